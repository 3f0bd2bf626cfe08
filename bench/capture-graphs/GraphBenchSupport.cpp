#include "GraphBenchSupport.h"

#include "capture/engine/GraphHelpers.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/StreamConfig.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/registry/Registry.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <thread>

namespace kestrom::bench {

using namespace kestrom::dshow;
using com::ComPtr;

ComPtr<IBaseFilter> CreateFilter(const CLSID& clsid) {
  ComPtr<IBaseFilter> filter;
  com::CoCreateInstance(clsid, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid());
  return filter;
}

bool Join(IGraphBuilder* graph, IBaseFilter* up, IBaseFilter* down, const char16_t* output) {
  ComPtr<IPin> out, in;
  const QString name = output ? QString::fromUtf16(output) : QString();
  if (engine::FindPinByName(up, PINDIR_OUTPUT, name, out, true, name.isEmpty()) != com::S_OK ||
      engine::FindPinByName(down, PINDIR_INPUT, QString(), in, true, true) != com::S_OK)
    return false;
  return graph->ConnectDirect(out.Get(), in.Get(), nullptr) == com::S_OK || graph->Connect(out.Get(), in.Get()) == com::S_OK;
}

bool SetCameraFormat(IPin* capture, LONG width, LONG height) {
  ComPtr<IAMStreamConfig> config;
  if (capture->QueryInterface(IID_IAMStreamConfig, config.PutVoid()) != com::S_OK) return false;
  AM_MEDIA_TYPE* current = nullptr;
  if (config->GetFormat(&current) != com::S_OK) return false;
  CMediaType wanted(*current);
  DeleteMediaType(current);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(wanted.pbFormat);
  wanted.subtype = MEDIASUBTYPE_RGB24;
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biBitCount = 24;
  vih->bmiHeader.biCompression = BI_RGB;
  vih->bmiHeader.biSizeImage = static_cast<DWORD>(width * height * 3);
  wanted.lSampleSize = vih->bmiHeader.biSizeImage;
  vih->AvgTimePerFrame = 333333;
  return config->SetFormat(&wanted) == com::S_OK;
}

long CameraFrames(IFilterGraph* graph) {
  ComPtr<IEnumFilters> filters;
  if (!graph || graph->EnumFilters(filters.Put()) != com::S_OK) return -1;
  for (ComPtr<IBaseFilter> filter; filters->Next(1, filter.Put(), nullptr) == com::S_OK;) {
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.Put());
    for (ComPtr<IPin> pin; pins->Next(1, pin.Put(), nullptr) == com::S_OK;) {
      ComPtr<IAMDroppedFrames> counts;
      LONG delivered = 0;
      if (pin->QueryInterface(IID_IAMDroppedFrames, counts.PutVoid()) == com::S_OK &&
          counts->GetNumNotDropped(&delivered) == com::S_OK)
        return delivered;
    }
  }
  return -1;
}

void WaitForCameraFrames(IFilterGraph* graph, long frames) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (CameraFrames(graph) < frames && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace kestrom::bench

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir registry, work;
  kestrom::registry::SetRegistryDirectory(registry.path());
  QDir::setCurrent(work.path());
  kestrom::engine::SetDeviceWatchThreadEnabled(false);
  kestrom::dshow::RegisterSourceFilters();
  kestrom::dshow::RegisterWriterFilters();
  kestrom::dshow::SetTestCameraPlugged(true);
  kestrom::dshow::SetTestDevicesLive(false);
  kestrom::engine::InitGlobalDevices();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kestrom::engine::StopSyncManager();
  kestrom::registry::SetRegistryDirectory({});
  return 0;
}
