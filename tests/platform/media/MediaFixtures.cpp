#include "tests/platform/media/MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

namespace kestrom::media::test {

QString FixtureFolder() {
  static QTemporaryDir folder;
  return folder.path();
}

QString Clip(const QString& name, tools::ClipSpec clipSpec) {
  clipSpec.path = QDir(FixtureFolder()).filePath(name);
  if (!QFile::exists(clipSpec.path)) {
    QString error;
    EXPECT_TRUE(tools::WriteClip(clipSpec, &error)) << error.toStdString();
  }
  return clipSpec.path;
}

QString ClipWithDrops(const QString& name, tools::ClipSpec clipSpec, const std::vector<int>& dropped) {
  const QString path = QDir(FixtureFolder()).filePath(name);
  if (QFile::exists(path)) return path;
  const int positions = clipSpec.frames;
  const bool finish = clipSpec.finish;
  clipSpec.frames = positions - int(dropped.size());
  clipSpec.finish = true;
  const QString pictures = Clip(name + ".pictures.avi", clipSpec);

  // The coded pictures are copied over, each at the next position that was not dropped; the
  // muxer writes an empty chunk for every position it is not given.
  std::vector<int64_t> kept;
  for (int p = 0; p < positions; ++p)
    if (std::find(dropped.begin(), dropped.end(), p) == dropped.end()) kept.push_back(p);
  AVFormatContext* in = nullptr;
  AVFormatContext* out = nullptr;
  AVPacket* packet = av_packet_alloc();
  const QByteArray inName = QFile::encodeName(pictures), outName = QFile::encodeName(path);
  bool ok = avformat_open_input(&in, inName.constData(), nullptr, nullptr) >= 0 &&
            avformat_find_stream_info(in, nullptr) >= 0 &&
            avformat_alloc_output_context2(&out, nullptr, "avi", outName.constData()) >= 0;
  AVStream* stream = ok ? avformat_new_stream(out, nullptr) : nullptr;
  ok = ok && stream && in->nb_streams == 1 && avcodec_parameters_copy(stream->codecpar, in->streams[0]->codecpar) >= 0;
  if (ok) {
    stream->codecpar->codec_tag = 0;
    stream->time_base = AVRational{clipSpec.rateDen, clipSpec.rateNum};
    stream->avg_frame_rate = AVRational{clipSpec.rateNum, clipSpec.rateDen};
    ok = avio_open(&out->pb, outName.constData(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
  }
  size_t next = 0;
  while (ok && av_read_frame(in, packet) >= 0) {
    ok = next < kept.size();
    if (ok) {
      packet->pts = packet->dts = av_rescale_q(kept[next++], AVRational{clipSpec.rateDen, clipSpec.rateNum}, stream->time_base);
      packet->duration = 0;
      packet->pos = -1;
      packet->stream_index = 0;
      ok = av_write_frame(out, packet) >= 0;
    }
    av_packet_unref(packet);
  }
  ok = ok && next == kept.size();
  if (ok && finish) ok = av_write_trailer(out) >= 0;
  if (out && out->pb) avio_closep(&out->pb);
  avformat_free_context(out);
  avformat_close_input(&in);
  av_packet_free(&packet);
  EXPECT_TRUE(ok) << "cannot write " << path.toStdString();
  return path;
}

QString RawFile(const QString& name, const QByteArray& bytes) {
  const QString path = QDir(FixtureFolder()).filePath(name);
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
  return path;
}

}  // namespace kestrom::media::test
