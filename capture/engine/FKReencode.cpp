// Re-encoding: a recorded file read through a graph and written again through the file writer,
// as a plain copy or compressed. The new file is written beside the destination under a
// temporary name and takes the destination's name only once it is complete, so a failed run
// leaves an existing destination as it was.
#include "capture/engine/FK.h"

#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/FileSource.h"
#include "platform/com/ComRuntime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cmath>
#include <cstdio>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::SUCCEEDED;

namespace {

QString SamePathForm(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

/** @brief An empty file beside the destination, with its extension, that the run writes; empty when none could be made. */
QString MakePartialFile(const QString& dest) {
  const QFileInfo info(dest);
  QTemporaryFile file(info.absolutePath() + QStringLiteral("/.") + info.completeBaseName() + QStringLiteral(".XXXXXX.") +
                      info.suffix());
  file.setAutoRemove(false);
  return file.open() ? file.fileName() : QString();
}

}  // namespace

bool TFK::AddReencodingSource(const QString& source, ComPtr<IBaseFilter>& filter) {
  const std::u16string file = source.toStdU16String();
  const HRESULT hr = graph_->AddSourceFilter(file.c_str(), file.c_str(), filter.Put());
  if (SUCCEEDED(hr) && filter) return true;
  // A preallocated capture file is an AVI under an extension of its own: the file source reads it by content.
  ComPtr<IFileSourceFilter> loader;
  return hr == VFW_E_UNKNOWN_FILE_TYPE &&
         SUCCEEDED(com::CoCreateInstance(CLSID_KestromFileSource, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         filter.PutVoid())) &&
         SUCCEEDED(filter->QueryInterface(IID_IFileSourceFilter, loader.PutVoid())) &&
         SUCCEEDED(loader->Load(file.c_str(), nullptr)) && SUCCEEDED(graph_->AddFilter(filter.Get(), file.c_str()));
}

bool TFK::Reencode(const QString& source, const QString& dest, bool copyMode, bool compressAudio, bool compressVideo,
                   bool withProcessing, bool includeAudio) {
  if (GlobalDevicesState() != 2) return false;
  if (CheckAndLog(this, SamePathForm(source) == SamePathForm(dest), ll_Error,
                  QStringLiteral("video compressor source and destination files must not be identical"),
                  TLogType::e_reencoding))
    return false;
  const QFileInfo destInfo(dest);
  // The destination is replaced at the end; a folder that refuses that is found out before the run.
  if (CheckAndLog(this, destInfo.exists() && !QFileInfo(destInfo.absolutePath()).isWritable(), ll_Error,
                  QStringLiteral("can't delete old destination file: ") + dest, TLogType::e_reencoding))
    return false;
  SnapshotBuildParameters();
  const QString keptRecordingFile = recordingFile_;
  const QString partial = MakePartialFile(dest);
  recordingFile_ = writingFile_ = partial;
  state_ = cs_Reencoding;

  ComPtr<IBaseFilter> sourceFilter;
  bool completed = false;
  [&] {
    if (!CreateFilterGraph()) return;
    if (CheckAndLog(this, !AddReencodingSource(source, sourceFilter), ll_Error,
                    QStringLiteral("source not found or not suitable: ") + source, TLogType::e_reencoding))
      return;
    ComPtr<com::IUnknown> head;
    sourceFilter->QueryInterface(com::IID_IUnknown, head.PutVoid());
    if (withProcessing && !InsertReencodingProcessing(head)) return;

    ComPtr<IBaseFilter> compressor;
    if (compressVideo) {
      if (!BindReencodingCompressor(true, compressor) ||
          FAILED(builder_->RenderStream(nullptr, &MEDIATYPE_Video, head.Get(), compressor.Get(), writer_.Get()))) {
        CheckAndLog(this, true, ll_Error,
                    QStringLiteral("video compressor ") + GetVideoCompressorName() + QStringLiteral(" not suitable"),
                    TLogType::e_video_compressor_not_suitable);
        return;
      }
    } else if (CheckAndLog(this,
                           FAILED(builder_->RenderStream(nullptr, &MEDIATYPE_Video, head.Get(), nullptr, writer_.Get())),
                           ll_Error, QStringLiteral("render Video stream"), TLogType::e_render_video_stream)) {
      return;
    }

    bool audioWritten = false;
    if (includeAudio) {
      compressor.Reset();
      const bool bound = !compressAudio || BindReencodingCompressor(false, compressor);
      audioWritten =
          bound && SUCCEEDED(builder_->RenderStream(nullptr, &MEDIATYPE_Audio, head.Get(), compressor.Get(), writer_.Get()));
      if (bound && !audioWritten) {
        // Past a transform the audio is still at the source: render it from there.
        ComPtr<IPin> audio;
        audioWritten = SUCCEEDED(builder_->FindPin(sourceFilter.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Audio, 1, 0,
                                                   audio.Put())) &&
                       SUCCEEDED(builder_->RenderStream(nullptr, nullptr, audio.Get(), compressor.Get(), writer_.Get()));
      }
      if (compressAudio)
        CheckAndLog(this, !audioWritten, ll_Error,
                    QStringLiteral("audio compressor ") + GetAudioCompressorName() + QStringLiteral(" not suitable"),
                    TLogType::e_audio_compressor_not_suitable);
      else
        CheckAndLog(this, !audioWritten, ll_Error, QStringLiteral("can't reencode audio stream"),
                    TLogType::e_render_audio_stream);
    }

    if (!LogResult(this, graph_->QueryInterface(IID_IMediaEventEx, events_.PutVoid()), ll_Error,
                   QStringLiteral("get Event ex interface"), TLogType::e_get_interface) ||
        !LogResult(this, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()), ll_Error,
                   QStringLiteral("get control interface"), TLogType::e_get_interface))
      return;
    // A writer that cannot tell its position is waited for without progress.
    ComPtr<IMediaSeeking> writerSeeking;
    LONGLONG duration = 0;
    if (SUCCEEDED(writer_->QueryInterface(IID_IMediaSeeking, writerSeeking.PutVoid())) && writerSeeking)
      writerSeeking->GetDuration(&duration);
    else
      WriteLog(QStringLiteral("Media seeking not available"));

    ConfigureFileWriter(audioWritten);
    reencodingRunning_ = true;
    reencodingStarted_ = true;
    if (!SetGraphState(2, QStringLiteral("recom"))) return;

    const TFKEvents::Event<const TProgressInfo&>& progress =
        copyMode ? slots_->OnCopyPreallocDataProgress : slots_->OnReencodingProgress;
    const bool reporting = static_cast<bool>(progress) && !destroying_;
    auto report = [&](int percent, LONGLONG done) {
      if (reporting) progress(host_.sender, TProgressInfo{percent, done, duration});
    };
    reencodeLooping_ = true;
    LONG code = 0;
    int timeouts = 0, reported = -1;
    while (events_->WaitForCompletion(writerSeeking ? 50 : -1, &code) == E_ABORT) {
      if (++timeouts % 5 == 0 && duration > 0) {
        LONGLONG position = 0;
        if (SUCCEEDED(writerSeeking->GetCurrentPosition(&position))) {
          const int percent = static_cast<int>(std::lround(double(position) / double(duration) * 100.0));
          if (percent != reported) report(reported = percent, position);
        }
      }
      if (!reencodeLooping_) SetGraphState(0, QStringLiteral("recom2"));
      PumpMessagesOnce();
    }
    report(100, duration);
    // A stop request ends the run early on purpose; an error stops it short of the file's end.
    completed = code == EC_COMPLETE || !reencodeLooping_;
    if (!completed) WriteLog(QStringLiteral("reencoding aborted"));
    reencodingRunning_ = false;
    SetGraphState(0, QStringLiteral("recom2"));
  }();
  reencodingRunning_ = false;
  reencodeLooping_ = false;
  if (graph_ && writer_) graph_->RemoveFilter(writer_.Get());
  if (graph_ && sourceFilter) graph_->RemoveFilter(sourceFilter.Get());
  sourceFilter.Reset();
  ClearGraph(true);
  recordingFile_ = keptRecordingFile;
  if (partial.isEmpty()) return false;
  if (completed && std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(dest).constData()) != 0) {
    CheckAndLog(this, true, ll_Error, QStringLiteral("can't delete old destination file: ") + dest, TLogType::e_reencoding);
    completed = false;
  }
  if (!completed) QFile::remove(partial);
  return completed;
}

bool TFK::BindReencodingCompressor(bool video, ComPtr<IBaseFilter>& compressor) {
  (void)video;
  compressor.Reset();
  WriteLog(QStringLiteral("compression after recording not available"));
  return false;
}

bool TFK::InsertReencodingProcessing(ComPtr<com::IUnknown>& head) {
  // Nothing asked for: the source stays the head.
  const bool nothing = GetVideoProcessing_Deinterlacing() != di_HalfSize && VideoProcessing_Rotation_ == rt_0_deg &&
                       snapshot_.frameGrabber == fg_Disabled;
  CheckAndLog(this, !nothing, ll_Error, QStringLiteral("can't insert the frame grabber. Disable it and try again"),
              TLogType::e_reencoding);
  return nothing && head;
}

}  // namespace kestrom::engine
