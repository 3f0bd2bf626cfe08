// The built deinterlacer.so as programs meet it: registered into the registry, loaded by class id,
// unloaded once idle, unregistered; and carried as the resource MYFILTER.

#include "deinterlacer/DeinterlaceFilter.h"
#include "deinterlacer/DeinterlaceSettings.h"
#include "platform/com/ComRuntime.h"
#include "platform/core/Resources.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/FilterMapper.h"
#include "platform/registry/Registry.h"
#include "tests/TestSupport.h"
#include "tests/deinterlacer/DeinterlacerTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace kestrom::deinterlacer {
namespace {

using namespace com;
using namespace dshow::test;
namespace reg = kestrom::registry;

const QString kClassKey = "\\CLSID\\{2A595B0E-BEFE-4B3B-A138-DACC62A7DDDF}";
const QString kInstanceKey =
    "\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\{2A595B0E-BEFE-4B3B-A138-DACC62A7DDDF}";

class Module : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    qputenv("KESTROM_REGISTRY_DIR", registryDir_.path().toUtf8());
    reg::SetRegistryDirectory({});
    path_ = QFileInfo(kestrom::test::BinPath("deinterlacer.so")).canonicalFilePath();
    ASSERT_FALSE(path_.isEmpty());
  }
  void TearDown() override { qunsetenv("KESTROM_REGISTRY_DIR"); }

  // Calls one export through a handle of our own, closed again afterwards.
  HRESULT CallExport(const char* name) {
    void* handle = dlopen(QFile::encodeName(path_).constData(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle, nullptr) << dlerror();
    if (!handle) return E_FAIL;
    auto fn = reinterpret_cast<HRESULT (*)()>(dlsym(handle, name));
    const HRESULT hr = fn ? fn() : E_NOTIMPL;
    dlclose(handle);
    return hr;
  }

  QTemporaryDir registryDir_;
  QString path_;
};

TEST_F(Module, RegistersLoadsByClassIdUnloadsWhenIdleAndUnregisters) {
  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  {
    reg::TRegistry r(reg::HKEY_CLASSES_ROOT, reg::KEY_READ);
    ASSERT_TRUE(r.OpenKeyReadOnly(kClassKey));
    EXPECT_EQ(r.ReadString(""), "Brightfold Deinterlacer");
    ASSERT_TRUE(r.OpenKeyReadOnly(kClassKey + "\\InprocServer32"));
    EXPECT_EQ(r.ReadString(""), path_);
    EXPECT_EQ(r.ReadString("ThreadingModel"), "Both");
    ASSERT_TRUE(r.OpenKeyReadOnly(kInstanceKey));
    EXPECT_EQ(r.ReadString("FriendlyName"), "Brightfold Deinterlacer");
  }
  const auto registered = dshow::ReadRegisteredFilters();
  ASSERT_EQ(registered.size(), 1u);
  EXPECT_EQ(registered[0].merit, dshow::MERIT_DO_NOT_USE);
  ASSERT_EQ(registered[0].pins.size(), 2u);
  EXPECT_TRUE(registered[0].pins[1].output);
  EXPECT_EQ(registered[0].pins[0].types, (std::vector<std::pair<GUID, GUID>>{{dshow::MEDIATYPE_Video, dshow::MEDIASUBTYPE_RGB24}}));

  EXPECT_FALSE(CoIsModuleLoaded(path_));
  ComPtr<dshow::IBaseFilter> filter;
  ASSERT_EQ(CoCreateInstance(CLSID_Deinterlacer, nullptr, CLSCTX_INPROC_SERVER, dshow::IID_IBaseFilter, filter.PutVoid()), S_OK);
  EXPECT_TRUE(CoIsModuleLoaded(path_));

  ComPtr<IDeinterlaceSettings> settings;
  ASSERT_EQ(filter.As(IID_IDeinterlaceSettings, &settings), S_OK);
  ASSERT_EQ(settings->SetPhases(1, 0), S_OK);
  int32_t row = 0, pixel = 1;
  ASSERT_EQ(settings->GetPhases(&row, &pixel), S_OK);
  EXPECT_EQ(row, 1);
  EXPECT_EQ(pixel, 0);
  EXPECT_EQ(settings->GetPhases(nullptr, nullptr), E_POINTER);

  // Pins carry the transform base's names.
  ComPtr<dshow::IPin> pin;
  EXPECT_EQ(filter->FindPin(u"XForm In", pin.Put()), S_OK);
  EXPECT_EQ(filter->FindPin(u"XForm Out", pin.Put()), S_OK);
  pin.Reset();

  // Aggregation is refused by the module's factory.
  ComPtr<IUnknown> aggregated;
  EXPECT_EQ(CoCreateInstance(CLSID_Deinterlacer, filter.Get(), CLSCTX_INPROC_SERVER, dshow::IID_IBaseFilter,
                             aggregated.PutVoid()),
            CLASS_E_NOAGGREGATION);

  // The module stays while an object lives, and goes once every reference is released.
  void* loaded = dlopen(QFile::encodeName(path_).constData(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(loaded, nullptr);
  auto canUnloadNow = reinterpret_cast<HRESULT (*)()>(dlsym(loaded, "DllCanUnloadNow"));
  ASSERT_NE(canUnloadNow, nullptr);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(CoIsModuleLoaded(path_));
  settings.Reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  filter.Reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
  dlclose(loaded);
  CoFreeUnusedLibraries();
  EXPECT_FALSE(CoIsModuleLoaded(path_));
  EXPECT_EQ(dlopen(QFile::encodeName(path_).constData(), RTLD_NOW | RTLD_NOLOAD), nullptr);

  ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
  reg::TRegistry r(reg::HKEY_CLASSES_ROOT, reg::KEY_READ);
  EXPECT_FALSE(r.KeyExists(kClassKey));
  EXPECT_FALSE(r.KeyExists(kInstanceKey));
  EXPECT_TRUE(dshow::ReadRegisteredFilters().empty());
  EXPECT_EQ(CoCreateInstance(CLSID_Deinterlacer, nullptr, CLSCTX_INPROC_SERVER, dshow::IID_IBaseFilter, filter.PutVoid()),
            REGDB_E_CLASSNOTREG);
}

TEST(FilterResource, CarriesTheBuiltModuleByteForByte) {
  QFile built(kestrom::test::BinPath("deinterlacer.so"));
  ASSERT_TRUE(built.open(QIODevice::ReadOnly));
  const auto resource = core::FindResource("MYFILTER");
  ASSERT_TRUE(resource.has_value());
  EXPECT_EQ(*resource, built.readAll());
}

// ---- in a graph ----

class DeinterlacerInGraph : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    reg::SetRegistryDirectory(registryDir_.path());
    // The filter class in this process, and its registration as the module would write it.
    ASSERT_EQ(dshow::AMovieDllRegisterServer2(true, g_Templates, g_cTemplates, kestrom::test::BinPath("deinterlacer.so")), S_OK);
    ASSERT_EQ(CoCreateInstance(dshow::CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, dshow::IID_IGraphBuilder,
                               graph_.PutVoid()),
              S_OK);
    source_ = MakeFilter<CTestSource>(dshow::MakeRgbVideoType(24, 720, 576, 400000));
    renderer_ = MakeFilter<CTestRenderer>([](const dshow::CMediaType& mt) {
      const dshow::BITMAPINFOHEADER* h = dshow::GetBitmapInfoHeader(mt);
      return mt.subtype == dshow::MEDIASUBTYPE_RGB24 && h && h->biHeight > 0 && h->biHeight <= 288;
    });
    ASSERT_EQ(graph_->AddFilter(source_.Get(), u"Source"), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer_.Get(), u"Renderer"), S_OK);
  }
  void TearDown() override {
    graph_.Reset();
    reg::SetRegistryDirectory({});
  }

  std::vector<std::u16string> Names() { return FilterNames(graph_.Get()); }

  QTemporaryDir registryDir_;
  InProcessClass deinterlacerClass_{CLSID_Deinterlacer, &CDeinterlaceFilter::CreateInstance};
  InProcessClass scalerClass_{CLSID_TestHalfScaler, &CTestHalfScaler::CreateInstance};
  ComPtr<dshow::IGraphBuilder> graph_;
  ComPtr<CTestSource> source_;
  ComPtr<CTestRenderer> renderer_;
};

TEST_F(DeinterlacerInGraph, AutomaticConnectionNeverInsertsItButUsesAnOrdinaryConverter) {
  // The deinterlacer alone could make this connection, but its merit keeps it out.
  EXPECT_EQ(graph_->Connect(source_->Output(), renderer_->Input()), VFW_E_CANNOT_CONNECT);
  EXPECT_EQ(Names().size(), 2u);

  ASSERT_EQ(RegisterRgb24Filter(CLSID_TestHalfScaler, u"Half Scaler", dshow::MERIT_NORMAL), S_OK);
  ASSERT_EQ(graph_->Connect(source_->Output(), renderer_->Input()), S_OK);
  EXPECT_EQ(Names(), (std::vector<std::u16string>{u"Source", u"Renderer", u"Half Scaler"}));

  // Control: one step above MERIT_DO_NOT_USE and without the converter, the deinterlacer is used.
  ComPtr<dshow::IBaseFilter> scaler;
  ASSERT_EQ(graph_->FindFilterByName(u"Half Scaler", scaler.Put()), S_OK);
  ASSERT_EQ(graph_->RemoveFilter(scaler.Get()), S_OK);
  ASSERT_EQ(RegisterRgb24Filter(CLSID_TestHalfScaler, u"Half Scaler", dshow::MERIT_DO_NOT_USE), S_OK);
  ASSERT_EQ(RegisterRgb24Filter(CLSID_Deinterlacer, kFilterName, dshow::MERIT_DO_NOT_USE + 1), S_OK);
  ASSERT_EQ(graph_->Connect(source_->Output(), renderer_->Input()), S_OK);
  EXPECT_EQ(Names(), (std::vector<std::u16string>{u"Source", u"Renderer", kFilterName}));
}

TEST_F(DeinterlacerInGraph, AddedByClassIdItConnectsAndDeliversTheChosenField) {
  ComPtr<dshow::IBaseFilter> filter;
  ASSERT_EQ(CoCreateInstance(CLSID_Deinterlacer, nullptr, CLSCTX_INPROC_SERVER, dshow::IID_IBaseFilter, filter.PutVoid()), S_OK);
  ASSERT_EQ(graph_->AddFilter(filter.Get(), kFilterName), S_OK);
  ComPtr<dshow::IPin> in, out;
  ASSERT_EQ(filter->FindPin(u"XForm In", in.Put()), S_OK);
  ASSERT_EQ(filter->FindPin(u"XForm Out", out.Put()), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(source_->Output(), in.Get(), nullptr), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(out.Get(), renderer_->Input(), nullptr), S_OK);

  ASSERT_EQ(renderer_->Pause(), S_OK);
  ASSERT_EQ(filter->Pause(), S_OK);
  ASSERT_EQ(source_->Pause(), S_OK);
  const auto frame = CoordinateFrame(24, 720, 576);
  ASSERT_EQ(source_->DeliverFrame(frame, 400000, 800000), S_OK);
  EXPECT_EQ(renderer_->received, 1);
  EXPECT_EQ(renderer_->lastFrame, test::ExpectedField(frame, 24, 720, 576, 0, 0));
  EXPECT_EQ(renderer_->lastStart, 400000);

  // Phases set through the settings interface apply from the next sample.
  ComPtr<IDeinterlaceSettings> settings;
  ASSERT_EQ(filter.As(IID_IDeinterlaceSettings, &settings), S_OK);
  settings->SetPhases(1, 0);
  ASSERT_EQ(source_->DeliverFrame(frame, 800000, 1200000), S_OK);
  EXPECT_EQ(renderer_->lastFrame, test::ExpectedField(frame, 24, 720, 576, 1, 0));
  EXPECT_EQ(test::PixelAt(renderer_->lastFrame.data()).second, 1);

  source_->Stop();
  filter->Stop();
  renderer_->Stop();
}

}  // namespace
}  // namespace kestrom::deinterlacer
