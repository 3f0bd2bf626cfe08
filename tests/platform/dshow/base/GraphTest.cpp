#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/FilterMapper.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/support/TestFilters.h"

#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

class Graph : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    registry::SetRegistryDirectory(registryDir_.path());
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.PutVoid()), S_OK);
  }
  void TearDown() override {
    graph_.Reset();
    registry::SetRegistryDirectory({});
  }

  static bool SmallRgb24(const CMediaType& mt) {
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(mt);
    return mt.subtype == MEDIASUBTYPE_RGB24 && h && h->biHeight > 0 && h->biHeight <= 288;
  }

  static bool SmallRgb24OrRgb32(const CMediaType& mt) {
    return SmallRgb24(mt) || (mt.subtype == MEDIASUBTYPE_RGB32 && GetBitmapInfoHeader(mt));
  }

  QTemporaryDir registryDir_;
  ComPtr<IGraphBuilder> graph_;
};

TEST_F(Graph, ConnectsPinsDirectlyWhenTheTypeSuits) {
  auto source = MakeFilter<CTestSource>(MakeRgbVideoType(24, 320, 240, 400000));
  auto renderer = MakeFilter<CTestRenderer>([](const CMediaType&) { return true; });
  EXPECT_EQ(graph_->ConnectDirect(source->Output(), renderer->Input(), nullptr), VFW_E_NOT_IN_GRAPH);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Source"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(FilterNames(graph_.Get()), (std::vector<std::u16string>{u"Source", u"Source 0001"}));
  EXPECT_EQ(graph_->ConnectDirect(renderer->Input(), source->Output(), nullptr), VFW_E_INVALID_DIRECTION);

  ASSERT_EQ(graph_->ConnectDirect(source->Output(), renderer->Input(), nullptr), S_OK);
  ComPtr<IPin> peer;
  ASSERT_EQ(source->Output()->ConnectedTo(peer.Put()), S_OK);
  EXPECT_TRUE(IsSameObject(peer.Get(), renderer->Input()));
  EXPECT_EQ(graph_->ConnectDirect(source->Output(), renderer->Input(), nullptr), VFW_E_ALREADY_CONNECTED);

  // Samples flow once the filters leave the stopped state.
  const auto frame = CoordinateFrame(24, 320, 240);
  EXPECT_EQ(source->DeliverFrame(frame, 0, 400000), VFW_E_NOT_COMMITTED);
  ASSERT_EQ(renderer->Pause(), S_OK);
  ASSERT_EQ(source->Pause(), S_OK);
  ASSERT_EQ(source->DeliverFrame(frame, 0, 400000), S_OK);
  EXPECT_EQ(renderer->lastFrame, frame);
  EXPECT_EQ(renderer->lastStop, 400000);
  source->Stop();
  renderer->Stop();

  // Removing a filter disconnects it.
  ASSERT_EQ(graph_->RemoveFilter(renderer.Get()), S_OK);
  EXPECT_EQ(source->Output()->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(graph_->RemoveFilter(renderer.Get()), VFW_E_NOT_FOUND);
}

TEST_F(Graph, AutomaticConnectionUsesRegisteredFiltersByMeritAndNeverDoNotUse) {
  InProcessClass scalerClass(CLSID_TestHalfScaler, &CTestHalfScaler::CreateInstance);
  const CLSID unusable = MakeGuid("{5E0C8E61-7C0B-4F2A-9E49-3F0D2C6B1A02}");
  InProcessClass unusableClass(unusable, &CTestHalfScaler::CreateInstance);

  auto source = MakeFilter<CTestSource>(MakeRgbVideoType(24, 720, 576, 400000));
  auto renderer = MakeFilter<CTestRenderer>(&SmallRgb24);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Renderer"), S_OK);

  // Only a filter of merit MERIT_DO_NOT_USE could make the connection: none is tried.
  ASSERT_EQ(RegisterRgb24Filter(unusable, u"Unusable Scaler", MERIT_DO_NOT_USE), S_OK);
  EXPECT_EQ(graph_->Connect(source->Output(), renderer->Input()), VFW_E_CANNOT_CONNECT);
  EXPECT_EQ(FilterNames(graph_.Get()).size(), 2u);

  ASSERT_EQ(RegisterRgb24Filter(CLSID_TestHalfScaler, u"Half Scaler", MERIT_NORMAL), S_OK);
  ASSERT_EQ(graph_->Connect(source->Output(), renderer->Input()), S_OK);
  EXPECT_EQ(FilterNames(graph_.Get()), (std::vector<std::u16string>{u"Source", u"Renderer", u"Half Scaler"}));
  EXPECT_EQ(GetBitmapInfoHeader(renderer->GetPin(0)->CurrentMediaType())->biHeight, 288);
}

// A source whose output can deliver any of several types (a camera with a format list).
class CChoiceSource final : public CBaseFilter {
 public:
  explicit CChoiceSource(std::vector<CMediaType> types)
      : CBaseFilter("choice source", nullptr, &lock_, GUID_NULL), pin_(std::make_unique<Pin>(this, &lock_, std::move(types))) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }
  IPin* Output() { return pin_.get(); }
  /** @brief The size of the buffers the connection agreed on. */
  LONG BufferSize() {
    IMediaSample* sample = nullptr;
    if (FAILED(pin_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) return -1;
    const LONG size = sample->GetSize();
    sample->Release();
    return size;
  }

 private:
  class Pin final : public CBaseOutputPin {
   public:
    Pin(CChoiceSource* filter, std::recursive_mutex* lock, std::vector<CMediaType> types)
        : CBaseOutputPin("choice source pin", filter, lock, nullptr, u"Out"), types_(std::move(types)) {}
    HRESULT CheckMediaType(const CMediaType* type) override {
      return std::find(types_.begin(), types_.end(), *type) != types_.end() ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
      if (position < 0) return E_INVALIDARG;
      if (size_t(position) >= types_.size()) return VFW_S_NO_MORE_ITEMS;
      *type = types_[size_t(position)];
      return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
      request->cBuffers = 1;
      request->cbBuffer = static_cast<LONG>(CurrentMediaType().lSampleSize);
      ALLOCATOR_PROPERTIES actual{};
      return allocator->SetProperties(request, &actual);
    }

   private:
    std::vector<CMediaType> types_;
  };
  std::recursive_mutex lock_;
  std::unique_ptr<Pin> pin_;
};

TEST_F(Graph, ReconnectAgreesANewTypeWhileStoppedAndKeepsTheOldOneWhenRefused) {
  const CMediaType rgb24 = MakeRgbVideoType(24, 320, 240, 400000);
  const CMediaType rgb32 = MakeRgbVideoType(32, 320, 240, 400000);
  const CMediaType large = MakeRgbVideoType(24, 720, 576, 400000);
  auto source = MakeFilter<CChoiceSource>(std::vector<CMediaType>{rgb24, rgb32, large});
  auto renderer = MakeFilter<CTestRenderer>(&SmallRgb24OrRgb32);
  ComPtr<IFilterGraph2> graph;
  ASSERT_EQ(graph_.As(IID_IFilterGraph2, &graph), S_OK);
  EXPECT_EQ(graph->Reconnect(nullptr), E_POINTER);
  EXPECT_EQ(graph->Reconnect(source->Output()), VFW_E_NOT_IN_GRAPH);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Renderer"), S_OK);
  EXPECT_EQ(graph->Reconnect(source->Output()), VFW_E_NOT_CONNECTED);
  ASSERT_EQ(graph_->ConnectDirect(source->Output(), renderer->Input(), nullptr), S_OK);
  auto connected = [&](IPin* pin) {
    AM_MEDIA_TYPE type{};
    EXPECT_EQ(pin->ConnectionMediaType(&type), S_OK);
    CMediaType copy(type);
    FreeMediaType(type);
    return copy;
  };
  ASSERT_TRUE(connected(renderer->Input()) == rgb24);

  // From either end of the connection; the allocator follows the new type's size.
  ASSERT_EQ(graph->ReconnectEx(source->Output(), &rgb32), S_OK);
  EXPECT_TRUE(connected(source->Output()) == rgb32);
  EXPECT_TRUE(connected(renderer->Input()) == rgb32);
  ASSERT_EQ(source->Pause(), S_OK);
  EXPECT_EQ(source->BufferSize(), LONG(rgb32.lSampleSize));
  source->Stop();
  ASSERT_EQ(graph->ReconnectEx(renderer->Input(), &rgb24), S_OK);
  EXPECT_TRUE(connected(source->Output()) == rgb24);

  // A type the downstream pin refuses leaves the connection as it was.
  EXPECT_TRUE(FAILED(graph->ReconnectEx(source->Output(), &large)));
  EXPECT_TRUE(connected(renderer->Input()) == rgb24);
  EXPECT_TRUE(connected(source->Output()) == rgb24);
  // Without a type the pins agree afresh.
  ASSERT_EQ(graph->Reconnect(renderer->Input()), S_OK);
  EXPECT_TRUE(connected(renderer->Input()) == rgb24);

  // Not while the graph runs or pauses: the connection stays.
  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph_.As(IID_IMediaControl, &control), S_OK);
  for (bool run : {false, true}) {
    SCOPED_TRACE(run);
    ASSERT_TRUE(SUCCEEDED(run ? control->Run() : control->Pause()));
    EXPECT_EQ(graph->ReconnectEx(source->Output(), &rgb32), VFW_E_NOT_STOPPED);
    EXPECT_EQ(graph->Reconnect(source->Output()), VFW_E_NOT_STOPPED);
    EXPECT_TRUE(connected(renderer->Input()) == rgb24);
    ASSERT_EQ(control->Stop(), S_OK);
  }
}

TEST(FilterMapper, StoresMeritAndPinsUnderTheFilterCategory) {
  QTemporaryDir dir;
  registry::SetRegistryDirectory(dir.path());
  const CLSID clsid = MakeGuid("{5E0C8E61-7C0B-4F2A-9E49-3F0D2C6B1A03}");
  ASSERT_EQ(test::RegisterRgb24Filter(clsid, u"Mapped", 0x00600001), S_OK);

  registry::TRegistry reg(registry::HKEY_CLASSES_ROOT);
  const QString key = "\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\" + GuidToString(clsid);
  ASSERT_TRUE(reg.OpenKeyReadOnly(key));
  EXPECT_EQ(reg.ReadString("FriendlyName"), "Mapped");
  EXPECT_EQ(reg.ReadString("CLSID"), GuidToString(clsid));

  const auto filters = ReadRegisteredFilters();
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_EQ(filters[0].clsid, clsid);
  EXPECT_EQ(filters[0].merit, 0x00600001u);
  ASSERT_EQ(filters[0].pins.size(), 2u);
  EXPECT_FALSE(filters[0].pins[0].output);
  EXPECT_TRUE(filters[0].pins[1].output);
  ASSERT_EQ(filters[0].pins[1].types.size(), 1u);
  EXPECT_EQ(filters[0].pins[1].types[0].second, MEDIASUBTYPE_RGB24);

  // Damaged records are refused, whatever their counts claim.
  QByteArray data = *reg.ReadBinaryData("FilterData");
  EXPECT_FALSE(DecodeFilterData(data.left(data.size() - 1)));
  QByteArray huge = data;
  huge[8] = '\xFF';
  huge[9] = '\xFF';
  EXPECT_FALSE(DecodeFilterData(huge));
  EXPECT_FALSE(DecodeFilterData(QByteArray()));

  ComPtr<IFilterMapper2> mapper;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.PutVoid()), S_OK);
  EXPECT_EQ(mapper->UnregisterFilter(nullptr, nullptr, clsid), S_OK);
  EXPECT_TRUE(ReadRegisteredFilters().empty());
  registry::SetRegistryDirectory({});
}

}  // namespace
}  // namespace kestrom::dshow
