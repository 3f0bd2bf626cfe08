#include "analysis/exportavi/FrameJoiner.h"

#include "analysis/exportavi/FrameSource.h"
#include "platform/com/ComRuntime.h"
#include "platform/core/FileCopy.h"
#include "platform/core/FrameRate.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/writers/WriterFilters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <cstdio>

namespace kestrom::exportavi {

using namespace dshow;
using namespace com;

namespace {

QString HresultText(HRESULT hr) { return QString("error 0x%1").arg(static_cast<uint32_t>(hr), 8, 16, QChar('0')); }

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.Put()))) return nullptr;
  for (;;) {
    IPin* pin = nullptr;
    if (pins->Next(1, &pin, nullptr) != S_OK) return nullptr;
    ComPtr<IPin> held = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION dir;
    if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == direction) return held;
  }
}

}  // namespace

class FrameJoiner::Graph {
 public:
  ComPtr<IGraphBuilder> builder;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  ComPtr<CExportFrameSource> source;

  /** @brief Builds source -> compressor -> AVI mux -> file writer; an empty string, or why not. */
  QString Build(const ExportArguments& a, const QString& frameFolder, const QString& file) {
    HRESULT hr = RegisterWriterFilters();
    if (FAILED(hr)) return "The video writers are not available (" + HresultText(hr) + ").";
    hr = CoCreateInstance(CLSID_FilterGraph, nullptr, IID_IGraphBuilder, &builder);
    if (FAILED(hr)) return "No filter graph (" + HresultText(hr) + ").";
    builder->QueryInterface(IID_IMediaControl, control.PutVoid());
    builder->QueryInterface(IID_IMediaEvent, events.PutVoid());
    ComPtr<IMediaFilter> timing;
    // No clock: the frames are not shown, only joined, as fast as they can be.
    if (SUCCEEDED(builder->QueryInterface(IID_IMediaFilter, timing.PutVoid()))) timing->SetSyncSource(nullptr);

    // The rate comes with two decimals: a common rate is taken as its exact fraction.
    const auto frameTime = static_cast<REFERENCE_TIME>(core::FrameTimeOf(core::ExactFrameRate(a.rate)));
    auto* frames = new CExportFrameSource(frameFolder, a.count, a.width, a.height, frameTime);
    frames->NonDelegatingAddRef();
    source = ComPtr<CExportFrameSource>::Attach(frames);
    ComPtr<IBaseFilter> compressor, mux, writer;
    if (FAILED(hr = CoCreateInstance(CLSID_Mpeg4V2Compressor, nullptr, IID_IBaseFilter, &compressor)))
      return "The MPEG-4 V2 compressor is not available (" + HresultText(hr) + ").";
    if (FAILED(hr = CoCreateInstance(CLSID_AviDest, nullptr, IID_IBaseFilter, &mux)))
      return "The AVI mux is not available (" + HresultText(hr) + ").";
    if (FAILED(hr = CoCreateInstance(CLSID_FileWriter, nullptr, IID_IBaseFilter, &writer)))
      return "The file writer is not available (" + HresultText(hr) + ").";
    const std::pair<IBaseFilter*, const char16_t*> filters[] = {
        {source.Get(), u"Export Frames"}, {compressor.Get(), u"MPEG-4 V2"}, {mux.Get(), u"AVI Mux"}, {writer.Get(), u"File Writer"}};
    for (const auto& [filter, name] : filters)
      if (FAILED(hr = builder->AddFilter(filter, reinterpret_cast<LPCWSTR>(name))))
        return "The export graph could not be built (" + HresultText(hr) + ").";

    ComPtr<IFileSinkFilter2> sink;
    if (FAILED(hr = writer->QueryInterface(IID_IFileSinkFilter2, sink.PutVoid())) ||
        FAILED(hr = sink->SetFileName(reinterpret_cast<LPCWSTR>(file.utf16()), nullptr)) ||
        FAILED(hr = sink->SetMode(AM_FILE_OVERWRITE)))
      return "The video file " + file + " cannot be set (" + HresultText(hr) + ").";

    IBaseFilter* const chain[] = {source.Get(), compressor.Get(), mux.Get(), writer.Get()};
    for (size_t i = 0; i + 1 < std::size(chain); ++i) {
      const ComPtr<IPin> out = PinOf(chain[i], PINDIR_OUTPUT);
      const ComPtr<IPin> in = PinOf(chain[i + 1], PINDIR_INPUT);
      if (!out || !in || FAILED(hr = builder->ConnectDirect(out.Get(), in.Get(), nullptr)))
        return QString("The frames of %1 x %2 cannot be encoded (%3).").arg(a.width).arg(a.height).arg(HresultText(hr));
    }
    return {};
  }

  ~Graph() {
    if (control) control->Stop();
  }
};

FrameJoiner::FrameJoiner(ExportArguments arguments, QString frameFolder)
    : arguments_(std::move(arguments)), frameFolder_(std::move(frameFolder)) {}

FrameJoiner::~FrameJoiner() {
  if (state_ == JoinState::Running) Cancel();
  TearDown();
}

bool FrameJoiner::Start() {
  // Every frame is there before anything is written; a frame that is unreadable or of another
  // size is found on the way and ends the join.
  for (int i = 1; i <= arguments_.count; ++i) {
    const QString frame = ExportFrameFile(frameFolder_, i);
    if (!QFileInfo(frame).isFile()) {
      Fail("The frame " + frame + " is missing.");
      return false;
    }
  }
  const QFileInfo target(arguments_.file);
  if (target.isDir()) {
    Fail(arguments_.file + " is a folder, not a video file.");
    return false;
  }
  // The temporary file beside the target proves that the folder takes files, and is renamed
  // over the target on the same file system at the end.
  QString reason;
  partFile_ = core::CreateFileBeside(target.absoluteFilePath(), &reason);
  if (partFile_.isEmpty()) {
    Fail("The video cannot be written in " + target.absolutePath() + ": " + reason);
    return false;
  }

  graph_ = std::make_unique<Graph>();
  const QString built = graph_->Build(arguments_, frameFolder_, partFile_);
  if (!built.isEmpty()) {
    Fail(built);
    return false;
  }
  const HRESULT hr = graph_->control->Run();
  if (FAILED(hr)) {
    Fail("The video could not be started (" + HresultText(hr) + ").");
    return false;
  }
  state_ = JoinState::Running;
  return true;
}

JoinState FrameJoiner::Poll(int waitMs) {
  if (state_ != JoinState::Running) return state_;
  LONG code = 0;
  LONG_PTR param1 = 0, param2 = 0;
  while (graph_->events->GetEvent(&code, &param1, &param2, waitMs) == S_OK) {
    graph_->events->FreeEventParams(code, param1, param2);
    waitMs = 0;
    if (code == EC_COMPLETE) {
      graph_->control->Stop();
      const QString partFile = partFile_;
      const int delivered = FramesDone();
      TearDown();  // the writer lets go of the file before it is put in place
      if (delivered != arguments_.count) {
        partFile_ = partFile;
        Fail(QString("Only %1 of %2 frames were joined.").arg(delivered).arg(arguments_.count));
      } else if (std::rename(QFile::encodeName(partFile).constData(), QFile::encodeName(arguments_.file).constData()) != 0) {
        partFile_ = partFile;
        Fail("The video could not be put in place as " + arguments_.file + ": " + qt_error_string(errno));
      } else {
        state_ = JoinState::Finished;
      }
      return state_;
    }
    if (code == EC_ERRORABORT || code == EC_ERRORABORTEX || code == EC_USERABORT) {
      const QString reason = graph_->source->Error();
      Fail(reason.isEmpty() ? "The video could not be written (" + HresultText(static_cast<HRESULT>(param1)) + ")."
                            : reason);
      return state_;
    }
  }
  return state_;
}

void FrameJoiner::Cancel() {
  if (state_ != JoinState::Running && state_ != JoinState::Idle) return;
  TearDown();
  if (!partFile_.isEmpty()) QFile::remove(partFile_);
  partFile_.clear();
  state_ = JoinState::Cancelled;
}

int FrameJoiner::FramesDone() const {
  if (state_ == JoinState::Finished) return arguments_.count;
  return graph_ && graph_->source ? graph_->source->Delivered() : 0;
}

void FrameJoiner::Fail(const QString& error) {
  error_ = error;
  TearDown();
  if (!partFile_.isEmpty()) QFile::remove(partFile_);
  partFile_.clear();
  state_ = JoinState::Failed;
}

void FrameJoiner::TearDown() { graph_.reset(); }

}  // namespace kestrom::exportavi
