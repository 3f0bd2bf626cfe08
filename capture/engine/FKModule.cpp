// The companion filter module: unpacking, loading and the filters the engine creates from it.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "platform/core/Resources.h"
#include "platform/dshow/base/Guids.h"

#include <QCryptographicHash>
#include <QFile>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <map>

namespace kestrom::engine {

using com::ComPtr;
using com::FAILED;
using com::SUCCEEDED;
using namespace dshow;

namespace {

constexpr int64_t kMaxModuleSize = 64LL * 1024 * 1024;

int32_t ReadInt32(const char* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(p[i])) << (8 * i);
  return static_cast<int32_t>(v);
}

/**
 * @brief The modules this process loaded, by the image they came from. Loaded once per process:
 * the files are deleted when the process ends, and the modules are never unloaded (filters and
 * their class objects may outlive any one engine).
 */
struct LoadedModules {
  std::mutex mutex;
  std::map<QByteArray, void*> handles;
  std::vector<QString> files;
  ~LoadedModules() {
    for (const QString& file : files) QFile::remove(file);
  }
};

LoadedModules& ProcessModules() {
  static LoadedModules loaded;
  return loaded;
}

}  // namespace

std::optional<QByteArray> TFK::GetGrabberFilterImage() {
  const std::optional<QByteArray> image = core::FindResource(QStringLiteral("TFCATCH"));
  if (!image) return std::nullopt;
  return QByteArray(image->constData(), image->size());
}

std::optional<QByteArray> TFK::ExpandFilterModule(const QByteArray& image) {
  if (image.size() < 4) return std::nullopt;
  const int32_t declared = ReadInt32(image.constData());
  if (declared <= 0 || declared > kMaxModuleSize) return std::nullopt;
  QByteArray out(declared, '\0');
  int64_t written = 0;
  const char* data = image.constData();
  const int64_t end = image.size();
  for (int64_t at = 4; at < end;) {
    if (end - at < 4) return std::nullopt;  // a count cut short
    const int64_t n = ReadInt32(data + at);
    at += 4;
    if (n > 0) {
      if (end - at < n || declared - written < n) return std::nullopt;
      std::memcpy(out.data() + written, data + at, static_cast<size_t>(n));
      at += n;
      written += n;
    } else {
      if (end - at < 1 || declared - written < -n) return std::nullopt;
      std::memset(out.data() + written, static_cast<uint8_t>(data[at]), static_cast<size_t>(-n));
      at += 1;
      written += -n;
    }
  }
  return out;
}

QString TFK::UnpackFilterModule(const FilterImageGetter& getter) {
  const std::optional<QByteArray> image = getter ? getter() : std::nullopt;
  if (!image) return {};
  // A damaged image is refused before anything is written.
  const std::optional<QByteArray> module = ExpandFilterModule(*image);
  if (!module) return {};
  const QString name = EngineTempFileName(false);
  if (name.isEmpty()) return {};
  QFile file(name);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(*module) != module->size() ||
      !file.flush()) {
    file.close();
    QFile::remove(name);
    return {};
  }
  file.close();
  return name;
}

bool TFK::CreateFilterFromModule(const QString& file, TModuleHolder& holder, const char* exportName,
                                 ComPtr<IBaseFilter>& filter) {
  if (!holder.module) {
    if (file.isEmpty()) return false;
    holder.module = ::dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!holder.module) {
      const char* error = ::dlerror();
      WriteLog(QStringLiteral("module not loaded: ") + QString::fromLocal8Bit(error ? error : "unknown error"));
      return false;
    }
  }
  auto create = reinterpret_cast<filters::CreateFilterFunction>(::dlsym(holder.module, exportName));
  if (!create) return false;
  ComPtr<IBaseFilter> made;
  if (FAILED(create(made.Put())) || !made) return false;
  filter = made;
  return true;
}

bool TFK::CreateOwnFilter(const FilterImageGetter& getter, const QString& logName, const char* exportName,
                          TModuleHolder& holder, ComPtr<IBaseFilter>& filter) {
  const bool created = [&] {
    if (holder.module) return CreateFilterFromModule(QString(), holder, exportName, filter);
    const std::optional<QByteArray> image = getter ? getter() : std::nullopt;
    if (!image) return false;
    const QByteArray key = QCryptographicHash::hash(*image, QCryptographicHash::Sha256);
    LoadedModules& loaded = ProcessModules();
    std::lock_guard lock(loaded.mutex);
    if (auto it = loaded.handles.find(key); it != loaded.handles.end()) {
      holder.module = it->second;
      return CreateFilterFromModule(QString(), holder, exportName, filter);
    }
    const QByteArray copy = *image;
    const QString file = UnpackFilterModule([&copy]() -> std::optional<QByteArray> { return copy; });
    if (file.isEmpty()) return false;
    const bool made = CreateFilterFromModule(file, holder, exportName, filter);
    if (!holder.module) {
      QFile::remove(file);
      return false;
    }
    loaded.handles.emplace(key, holder.module);
    loaded.files.push_back(file);
    return made;
  }();
  if (!created)
    CheckAndLog(this, true, ll_Error, QStringLiteral("cannot load filter ") + logName, TLogType::e_load_filter);
  return created;
}

bool TFK::CreateTransformFilter(bool applyRotation, ComPtr<IBaseFilter>& filter) {
  filters::TTransformSettings settings;
  const int rotation = VideoProcessing_Rotation_;
  settings.rotation = rotation;
  settings.swapWidthHeight = (rotation & 1) != 0 ? 1 : 0;  // 90 and 270 degrees, mirrored or not
  settings.halfSize = GetVideoProcessing_Deinterlacing() == di_HalfSize ? 1 : 0;
  if (applyRotation) {
    settings.halfSize = 0;
  } else {
    settings.rotation = rt_0_deg;
    settings.swapWidthHeight = 0;
  }
  settings.active = settings.halfSize || settings.rotation != rt_0_deg ? 1 : 0;
  ComPtr<IBaseFilter> made;
  if (!CreateOwnFilter(FilterImage(), QString(), filters::kCreateTransform, transformHolder_, made)) return false;
  ComPtr<filters::ITransformSettings> settingsInterface;
  if (FAILED(made->QueryInterface(filters::IID_ITransformSettings, settingsInterface.PutVoid())) ||
      !settingsInterface || FAILED(settingsInterface->SetSettings(&settings)))
    return false;
  if (!AddFilterToGraph(made.Get(), QStringLiteral("TrnfFltr"))) return false;
  transformHolder_.filter = made;
  transformHolder_.second = ComPtr<com::IUnknown>(settingsInterface.Get());
  filter = made;
  return true;
}

bool TFK::InsertTransformFilter(ComPtr<IPin>& pin, bool applyRotation) {
  if (!pin || !graph_) return false;
  ComPtr<IBaseFilter> filter;
  if (!CreateTransformFilter(applyRotation, filter)) return false;
  ComPtr<IPin> input, output;
  if (FAILED(FindPinByName(filter.Get(), PINDIR_INPUT, QString(), input, true, true)) ||
      FAILED(graph_->Connect(pin.Get(), input.Get())) ||
      FAILED(FindPinByName(filter.Get(), PINDIR_OUTPUT, QString(), output, true, true))) {
    if (input) {
      ComPtr<IPin> upstream;
      if (SUCCEEDED(input->ConnectedTo(upstream.Put())) && upstream) {
        graph_->Disconnect(upstream.Get());
        graph_->Disconnect(input.Get());
      }
    }
    graph_->RemoveFilter(filter.Get());
    transformHolder_.ReleaseInterfaces();
    WriteLog(QStringLiteral("ERROR: InsertFilterInline cannot connect TrnfFltr"));
    return false;
  }
  pin = output;
  return true;
}

bool TFK::CreatePushSourceFilter(filters::PushSourceFill fill, void* data, filters::PushSourceFormat format,
                                 ComPtr<IPin>& output) {
  filters::TPushSourceRecord record;
  record.owner = host_.sender;
  record.framesPerSecond = frameRate_ / 100.0;
  record.fill = fill;
  record.fillData = data;
  record.format = format;
  ComPtr<IBaseFilter> made;
  if (!CreateOwnFilter(FilterImage(), QString(), filters::kCreatePushSource, pushSourceHolder_, made)) return false;
  ComPtr<filters::IPushSourceSettings> settings;
  if (FAILED(made->QueryInterface(filters::IID_IPushSourceSettings, settings.PutVoid())) || !settings ||
      FAILED(settings->SetSettings(&record)))
    return false;
  if (!AddFilterToGraph(made.Get(), QStringLiteral("PushSrc"))) return false;
  pushSourceHolder_.filter = made;
  pushSourceHolder_.second = ComPtr<com::IUnknown>(settings.Get());
  pushSourceRecord_ = record;
  return SUCCEEDED(FindPinByName(made.Get(), PINDIR_OUTPUT, QString(), output, true, true)) && output;
}

bool TFK::SetPushSourceRate() {
  if (!pushSourceHolder_.filter || !pushSourceHolder_.second || frameRate_ <= 0) return false;
  filters::TPushSourceRecord record = pushSourceRecord_;
  record.framesPerSecond = frameRate_ / 100.0;
  auto* settings = static_cast<filters::IPushSourceSettings*>(pushSourceHolder_.second.Get());
  if (FAILED(settings->SetSettings(&record))) return false;
  pushSourceRecord_ = record;
  return true;
}

int64_t TFK::ClockRateValue(double ratio) {
  return ratio > 0 ? std::llround(filters::kClockRealTimeValue / ratio) : std::llround(filters::kClockRealTimeValue);
}

void TFK::ChooseReferenceClock() {
  WriteLog(QStringLiteral("d s source"));
  engineClock_.Reset();
  if (!graph_) return;
  ComPtr<IMediaFilter> mediaFilter;
  if (FAILED(graph_->QueryInterface(IID_IMediaFilter, mediaFilter.PutVoid())) || !mediaFilter) return;
  if (state_ != cs_Player || snapshot_.playerAudioRendering) {
    mediaFilter->GetSyncSource(engineClock_.Put());
    // A graph that has not run yet has no clock: its default one is chosen now (the same the
    // graph would choose when it starts), so that frames without a time can be timed by it.
    if (!engineClock_ && state_ != cs_Player && SUCCEEDED(graph_->SetDefaultSyncSource()))
      mediaFilter->GetSyncSource(engineClock_.Put());
    return;
  }
  mediaFilter->SetSyncSource(nullptr);
  if (snapshot_.videoRenderer == vr_None) return;
  ComPtr<IBaseFilter> clock;
  // Without it the player runs with no reference clock at all.
  if (!CreateOwnFilter(FilterImage(), QString(), filters::kCreateCustomClock, clockHolder_, clock)) return;
  ComPtr<IReferenceClock> reference;
  ComPtr<filters::IClockRate> rate;
  if (FAILED(clock->QueryInterface(IID_IReferenceClock, reference.PutVoid())) || !reference ||
      FAILED(clock->QueryInterface(filters::IID_IClockRate, rate.PutVoid())) || !rate)
    return;
  clockHolder_.filter = clock;
  clockHolder_.second = ComPtr<com::IUnknown>(rate.Get());
  rate->SetRate(ClockRateValue(PlayerSpeedRatio_));
  if (SUCCEEDED(mediaFilter->SetSyncSource(reference.Get()))) engineClock_ = reference;
}

bool TFK::ApplyClockRate() {
  if (!clockHolder_.second) return false;
  ComPtr<filters::IClockRate> rate;
  if (FAILED(clockHolder_.second->QueryInterface(filters::IID_IClockRate, rate.PutVoid())) || !rate) return false;
  return SUCCEEDED(rate->SetRate(ClockRateValue(PlayerSpeedRatio_)));
}

void TFK::ReleaseModuleHolders() {
  for (TModuleHolder& holder : grabberHolders_) holder.ReleaseInterfaces();
  for (TModuleHolder* holder : {&sampleNotifyHolder_, &dvDataHolder_, &furtherHolders_[0], &furtherHolders_[1],
                                &rawWriterHolder_, &clockHolder_, &transformHolder_, &pushSourceHolder_})
    holder->ReleaseInterfaces();
  grabbers_.clear();
  engineClock_.Reset();
  grabbedFrames_ = 0;
}

}  // namespace kestrom::engine
