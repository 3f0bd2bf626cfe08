// Re-encoding: a recorded file read through a graph and written again through the file writer,
// as a plain copy or compressed. The new file is written beside the destination under a
// temporary name and takes the destination's name only once the graph reached its end, so a
// failed or stopped run leaves an existing destination as it was.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "capture/engine/Registry2.h"
#include "capture/engine/SyncManager.h"
#include "platform/com/ComRuntime.h"
#include "platform/core/FileCopy.h"
#include "platform/core/Paths.h"
#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/sources/FileSource.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::SUCCEEDED;

namespace {

/** @brief The reason an aborted graph gave (the first error abort still queued); 0 when none. */
HRESULT AbortReason(IMediaEventEx* events) {
  HRESULT reason = 0;
  LONG code = 0;
  LONG_PTR param1 = 0, param2 = 0;
  while (SUCCEEDED(events->GetEvent(&code, &param1, &param2, 0))) {
    if (code == EC_ERRORABORT && reason == 0) reason = static_cast<HRESULT>(param1);
    events->FreeEventParams(code, param1, param2);
  }
  return reason;
}

/**
 * @brief Moves the link into the compressor to planar 4:2:0 pictures when the filter before it
 * (a decoder) offers them: the encoder codes them as they come, where an RGB link costs a colour
 * conversion on each side. The link stays as it was when the new one is refused.
 */
void PreferPlanarPictures(IGraphBuilder* graph, IBaseFilter* compressor) {
  ComPtr<IPin> in, up;
  if (FAILED(FindPinByName(compressor, PINDIR_INPUT, QString(), in, false, true)) || !in ||
      FAILED(in->ConnectedTo(up.Put())) || !up)
    return;
  AM_MEDIA_TYPE current{};
  if (FAILED(in->ConnectionMediaType(&current))) return;
  AM_MEDIA_TYPE* planar = nullptr;
  ComPtr<IEnumMediaTypes> types;
  if (current.subtype != MEDIASUBTYPE_I420 && SUCCEEDED(up->EnumMediaTypes(types.Put())) && types) {
    AM_MEDIA_TYPE* next = nullptr;
    ULONG fetched = 0;
    while (!planar && types->Next(1, &next, &fetched) == com::S_OK && next) {
      if (next->majortype == MEDIATYPE_Video && next->subtype == MEDIASUBTYPE_I420) planar = next;
      else DeleteMediaType(next);
    }
  }
  if (planar && SUCCEEDED(graph->Disconnect(up.Get())) && SUCCEEDED(graph->Disconnect(in.Get())) &&
      FAILED(graph->ConnectDirect(up.Get(), in.Get(), planar)))
    graph->ConnectDirect(up.Get(), in.Get(), &current);
  if (planar) DeleteMediaType(planar);
  FreeMediaType(current);
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
  // By identity, not by text: "./a.avi", a link or a hard link of the source would be replaced by the run.
  if (CheckAndLog(this, core::SameFile(source, dest), ll_Error,
                  QStringLiteral("video compressor source and destination files must not be identical"),
                  TLogType::e_reencoding))
    return false;
  {
    QFile readable(source);
    if (CheckAndLog(this, !QFileInfo(source).isFile() || !readable.open(QIODevice::ReadOnly), ll_Error,
                    QStringLiteral("source not found or not suitable: ") + source, TLogType::e_reencoding))
      return false;
  }
  const QFileInfo destInfo(dest);
  // The destination is replaced at the end; a folder that refuses that is found out before the run.
  if (CheckAndLog(this, destInfo.isDir() || (destInfo.exists() && !QFileInfo(destInfo.absolutePath()).isWritable()),
                  ll_Error, QStringLiteral("can't delete old destination file: ") + dest, TLogType::e_reencoding))
    return false;
  // Made with the permissions a new destination would get, and renamed over it at the end.
  const QString partial = core::CreateFileBeside(dest);
  if (CheckAndLog(this, partial.isEmpty(), ll_Error, QStringLiteral("can't create destination file: ") + dest,
                  TLogType::e_reencoding))
    return false;

  SnapshotBuildParameters();
  const QString keptRecordingFile = recordingFile_;
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
      const bool bound = BindReencodingCompressor(true, compressor);
      // Into the compressor first, so that its input can be settled before its output is connected.
      const bool rendered =
          bound && SUCCEEDED(builder_->RenderStream(nullptr, &MEDIATYPE_Video, head.Get(), nullptr, compressor.Get()));
      if (rendered) PreferPlanarPictures(graph_.Get(), compressor.Get());
      if (!rendered ||
          FAILED(builder_->RenderStream(nullptr, &MEDIATYPE_Video, compressor.Get(), nullptr, writer_.Get()))) {
        CheckAndLog(this, true, ll_Error,
                    QStringLiteral("video compressor ") + GetVideoCompressorName() + QStringLiteral(" not suitable"),
                    TLogType::e_video_compressor_not_suitable);
        return;
      }
      RestoreCompressorSettings(true, compressor.Get());
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
      if (compressAudio) {
        if (!CheckAndLog(this, !audioWritten, ll_Error,
                         QStringLiteral("audio compressor ") + GetAudioCompressorName() + QStringLiteral(" not suitable"),
                         TLogType::e_audio_compressor_not_suitable))
          RestoreCompressorSettings(false, compressor.Get());
        else if (compressor)
          graph_->RemoveFilter(compressor.Get());  // the file goes out without sound: no idle compressor in its graph
      } else {
        CheckAndLog(this, !audioWritten, ll_Error, QStringLiteral("can't reencode audio stream"),
                    TLogType::e_render_audio_stream);
      }
    }

    if (!LogResult(this, graph_->QueryInterface(IID_IMediaEventEx, events_.PutVoid()), ll_Error,
                   QStringLiteral("get Event ex interface"), TLogType::e_get_interface) ||
        !LogResult(this, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()), ll_Error,
                   QStringLiteral("get control interface"), TLogType::e_get_interface))
      return;
    // A writer that cannot tell its position is waited for all the same, without percentages.
    ComPtr<IMediaSeeking> writerSeeking;
    LONGLONG duration = 0;
    if (!LogResult(this, writer_->QueryInterface(IID_IMediaSeeking, writerSeeking.PutVoid()), ll_Warning,
                   QStringLiteral("Media seeking"), TLogType::e_get_interface) ||
        !writerSeeking || FAILED(writerSeeking->GetDuration(&duration)))
      duration = 0;

    ConfigureFileWriter(audioWritten);
    reencodingRunning_ = true;
    reencodingStarted_ = true;
    reencodeLooping_ = true;
    if (!SetGraphState(2, QStringLiteral("recom"))) return;

    const TFKEvents::Event<const TProgressInfo&>& progress =
        copyMode ? slots_->OnCopyPreallocDataProgress : slots_->OnReencodingProgress;
    int reported = -1;
    // Each percentage once, rising; the handler may stop the run or call into the component.
    auto report = [&](int percent, LONGLONG done) {
      if (!progress || destroying_ || percent <= reported) return;
      reported = percent;
      progress(host_.sender, TProgressInfo{percent, done, duration, QString()});
    };
    // Every 250 ms: the progress, and a stop asked for in between.
    auto tick = [&] {
      if (duration > 0) {
        LONGLONG position = 0;
        if (SUCCEEDED(writerSeeking->GetCurrentPosition(&position))) {
          const double share = std::clamp(double(position) / double(duration), 0.0, 1.0);
          // 100 only once the graph has completed: one stream may reach the end before another.
          report(std::min(99, static_cast<int>(std::lround(share * 100.0))), position);
        }
      }
      if (!reencodeLooping_) SetGraphState(0, QStringLiteral("recom2"));
    };
    const LONG code = WaitForReencodingEnd(events_.Get(), tick);
    // Only the end of the stream makes a complete file; an error leaves a short one. A stop
    // asked for before the end counts even when the graph got there first.
    const bool stopped = !reencodeLooping_;
    completed = code == EC_COMPLETE && !stopped;
    if (completed) {
      report(100, duration);
    } else if (stopped) {
      CheckAndLog(this, true, ll_Info, QStringLiteral("re-encoding stopped"), TLogType::e_reencoding);
    } else {
      const HRESULT reason = code == EC_ERRORABORT ? AbortReason(events_.Get()) : 0;
      CheckAndLog(this, true, ll_Error,
                  QStringLiteral("re-encoding aborted (0x") +
                      QString::number(static_cast<uint32_t>(reason ? reason : com::E_FAIL), 16).toUpper() +
                      QLatin1Char(')'),
                  TLogType::e_reencoding);
    }
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
  if (completed && std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(dest).constData()) != 0) {
    CheckAndLog(this, true, ll_Error, QStringLiteral("can't delete old destination file: ") + dest, TLogType::e_reencoding);
    completed = false;
  }
  if (!completed) QFile::remove(partial);
  return completed;
}

dshow::LONG TFK::WaitForReencodingEnd(IMediaEventEx* events, const std::function<void()>& tick) {
  constexpr int kTickMs = 250;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) {
    // No event loop to serve: wait on the graph here, ticking between waits.
    LONG code = 0;
    while (events->WaitForCompletion(kTickMs, &code) == E_ABORT) tick();
    return code;
  }
  // The graph's completion wakes a waiting thread at once, which ends the event loop the program
  // goes on running meanwhile; a stopped graph ends the wait as well.
  QEventLoop loop;
  std::atomic<LONG> code{0};
  std::atomic<bool> ended{false};
  std::thread waiter([&] {
    LONG c = 0;
    while (events->WaitForCompletion(kTickMs, &c) == E_ABORT) {
    }
    code = c;
    ended = true;
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, &loop, tick);
  timer.start(kTickMs);
  if (!ended) loop.exec();
  timer.stop();
  waiter.join();
  return code;
}

bool TFK::BindReencodingCompressor(bool video, ComPtr<IBaseFilter>& compressor) {
  compressor.Reset();
  int& index = video ? videoCompressor_ : audioCompressor_;
  return BindDevice(video ? VideoCompressorList() : AudioCompressorList(), index, QString(), true, false, compressor) &&
         compressor;
}

void TFK::RestoreCompressorSettings(bool video, IBaseFilter* compressor) {
  const QString key = CompressorKey(video);
  if (compressor && !key.isEmpty()) LoadFilterState(compressor, key);
}

bool TFK::InsertReencodingProcessing(ComPtr<com::IUnknown>& head) {
  const bool transform = GetVideoProcessing_Deinterlacing() == di_HalfSize || VideoProcessing_Rotation_ != rt_0_deg;
  const bool grabber = snapshot_.frameGrabber != fg_Disabled;
  if (!transform && !grabber) return true;  // the source stays the head
  // The video leaves the head through its pin; a source filter gives its video output.
  ComPtr<IPin> chain;
  if (head && FAILED(head->QueryInterface(IID_IPin, chain.PutVoid())))
    builder_->FindPin(head.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video, 1, 0, chain.Put());
  if (CheckAndLog(this, transform && (!chain || !InsertVideoTransforms(chain)), ll_Error,
                  QStringLiteral("can't insert the frame grabber. Disable it and try again"), TLogType::e_reencoding))
    return false;
  if (CheckAndLog(this, grabber && (!chain || !InsertGrabber(QStringLiteral("GRB_RGB"), chain)), ll_Error,
                  QStringLiteral("can't connect the frame grabber. Disable it and try again"), TLogType::e_reencoding))
    return false;
  head.Reset();
  chain->QueryInterface(com::IID_IUnknown, head.PutVoid());
  return true;
}

}  // namespace kestrom::engine
