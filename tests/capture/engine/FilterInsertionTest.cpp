// Splicing filters into the engine's chains of pins: every failure leaves the caller's chain pin
// and the graph as they were; extra filters are skipped one by one; the renderer choice falls
// back from the mixing renderer 9 to 7 and leaves the mixing renderers out with a colour key.
#include "TestCameraFixture.h"

#include "capture/engine/FK.h"
#include "capture/engine/GraphHelpers.h"
#include "capture/filters/CompanionFilters.h"
#include "platform/core/Resources.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/base/TransformFilter.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "tests/platform/dshow/support/TestFilters.h"

#include <QRegularExpression>
#include <cstdlib>

namespace kestrom::engine::test {

using com::ComPtr;
using namespace dshow;
using dshow::test::CTestRenderer;
using dshow::test::InProcessClass;

namespace {

constexpr CLSID CLSID_RefusingInput = com::MakeGuid("{7B1E2C30-5A4D-4E8F-9C21-0D3E4F5A6B01}");
constexpr CLSID CLSID_OutputLess = com::MakeGuid("{7B1E2C30-5A4D-4E8F-9C21-0D3E4F5A6B02}");
constexpr CLSID CLSID_Unmakeable = com::MakeGuid("{7B1E2C30-5A4D-4E8F-9C21-0D3E4F5A6B03}");

com::CUnknown* MakeRefusingInput(com::IUnknown*, HRESULT* hr) {
  *hr = com::S_OK;
  return new CTestRenderer([](const CMediaType&) { return false; });
}
com::CUnknown* MakeOutputLess(com::IUnknown*, HRESULT* hr) {
  *hr = com::S_OK;
  return new CTestRenderer([](const CMediaType&) { return true; });
}
com::CUnknown* MakeNothing(com::IUnknown*, HRESULT* hr) {
  *hr = com::E_FAIL;
  return nullptr;
}

/** @brief A stream type no converter of the graph knows. */
CMediaType PrivateType(uint32_t tag) {
  CMediaType type;
  type.SetType(com::MakeGuid("{7B1E2C30-5A4D-4E8F-9C21-0D3E4F5A6C00}"));
  GUID subtype = com::MakeGuid("{7B1E2C30-5A4D-4E8F-9C21-0D3E4F5A6C00}");
  subtype.Data1 = tag;
  type.SetSubtype(subtype);
  type.SetFormatType(FORMAT_None);
  type.SetSampleSize(4096);
  return type;
}

/** @brief A source that offers type 1 but also accepts type 2 when asked for it. */
class CTwoTypeSource final : public CBaseFilter {
 public:
  CTwoTypeSource() : CBaseFilter("two-type source", nullptr, &lock_, com::GUID_NULL), pin_(this, &lock_) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  IPin* Output() { return &pin_; }

 private:
  class Pin final : public CBaseOutputPin {
   public:
    Pin(CBaseFilter* filter, std::recursive_mutex* lock) : CBaseOutputPin("two-type pin", filter, lock, nullptr, u"Out") {}
    HRESULT CheckMediaType(const CMediaType* type) override {
      return *type == PrivateType(1) || *type == PrivateType(2) ? com::S_OK : com::S_FALSE;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
      if (position < 0) return com::E_INVALIDARG;
      if (position > 0) return com::VFW_S_NO_MORE_ITEMS;
      *type = PrivateType(1);
      return com::S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
      request->cBuffers = 1;
      request->cbBuffer = 4096;
      ALLOCATOR_PROPERTIES actual{};
      return allocator->SetProperties(request, &actual);
    }
  };
  std::recursive_mutex lock_;
  Pin pin_;
};

/** @brief Takes type 2 only, and passes it on. */
class CTypeTwoPass final : public CTransformFilter {
 public:
  CTypeTwoPass() : CTransformFilter("type-two pass", nullptr, com::GUID_NULL) {}
  HRESULT CheckInputType(const CMediaType* type) override { return *type == PrivateType(2) ? com::S_OK : com::S_FALSE; }
  HRESULT CheckTransform(const CMediaType*, const CMediaType*) override { return com::S_OK; }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return com::E_INVALIDARG;
    if (position > 0) return com::VFW_S_NO_MORE_ITEMS;
    *type = PrivateType(2);
    return com::S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = 1;
    request->cbBuffer = 4096;
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
  }
  HRESULT Transform(IMediaSample*, IMediaSample*) override { return com::S_OK; }
};

class FilterInsertion : public TestCameraTest {
 protected:
  void SetUp() override {
    TestCameraTest::SetUp();
    fk_ = std::make_unique<TFK>();
    fk_->SetAudioRecording(false);
    fk_->SetFrameGrabber(fg_Disabled);
    ASSERT_GE(CameraIndex(), 0);
    fk_->SetVideoDevice(CameraIndex());
  }
  void TearDown() override {
    fk_.reset();
    TestCameraTest::TearDown();
  }
  /** @brief The camera's device graph, its preview pin the chain to extend. */
  void BuildBase() {
    fk_->SnapshotBuildParameters();
    ASSERT_TRUE(fk_->CreateBaseGraph());
    chain_ = fk_->PreviewPin();
    ASSERT_TRUE(chain_);
  }
  QStringList Names() const {
    QStringList names;
    for (const std::u16string& n : dshow::test::FilterNames(fk_->Graph())) names << QString::fromStdU16String(n);
    names.sort();
    return names;
  }
  static bool Connected(IPin* pin) {
    ComPtr<IPin> peer;
    return com::SUCCEEDED(pin->ConnectedTo(peer.Put())) && peer;
  }
  static bool LogHas(const QString& text) { return !ProcessLogLines().filter(text).isEmpty(); }

  std::unique_ptr<TFK> fk_;
  ComPtr<IPin> chain_;
};

}  // namespace

// Every failing insertion leaves the chain pin where it was, unconnected, and the graph with
// the filters it had.
TEST_F(FilterInsertion, EveryFailureKeepsTheChainPinAndTheGraph) {
  InProcessClass refusing(CLSID_RefusingInput, &MakeRefusingInput);
  InProcessClass unmakeable(CLSID_Unmakeable, &MakeNothing);
  struct Row {
    const char* name;
    std::function<bool(TFK&, ComPtr<IPin>&)> insert;
    const char* logged;
  };
  const Row rows[] = {
      {"no output of the type",
       [](TFK& fk, ComPtr<IPin>& chain) {
         return fk.InsertFilterInline(CLSID_InfTee, "Inf Tee", chain, &MEDIATYPE_Audio);
       },
       "ERROR: InsertFilterInline: out pin not found in Inf Tee"},
      {"a refused connection, inline",
       [](TFK& fk, ComPtr<IPin>& chain) { return fk.InsertFilterInline(CLSID_RefusingInput, "Refuser", chain, nullptr); },
       "ERROR: InsertFilterInline cannot connect Refuser"},
      {"a refused connection, ending the chain",
       [](TFK& fk, ComPtr<IPin>& chain) { return fk.InsertFilter(CLSID_RefusingInput, "Refuser", chain); },
       "ERROR: InsertFilter cannot connect Refuser"},
      {"a two-output filter without outputs",
       [](TFK& fk, ComPtr<IPin>& chain) {
         ComPtr<IPin> second;
         const bool ok = fk.InsertFilter2(CLSID_RefusingInput, "Refuser", chain, second);
         EXPECT_FALSE(second);
         return ok;
       },
       "cannot find output pin #1 in filter Refuser"},
      {"a filter that cannot be made",
       [](TFK& fk, ComPtr<IPin>& chain) { return fk.InsertFilterInline(CLSID_Unmakeable, "Ghost", chain, nullptr); },
       "ERROR: AddFilterGetInput cocreate instance failed on filter Ghost"},
      {"a grabber of record version 7026",
       [](TFK& fk, ComPtr<IPin>& chain) {
         fk.SetFilterImageGetter([] { return core::FindResource(QStringLiteral("TFCATCH7026")); });
         const bool ok = fk.InsertGrabber(chain, filters::gk_RGB, nullptr, fk.GrabberHolder(filters::gk_RGB), fgf_Default);
         fk.SetFilterImageGetter(nullptr);
         return ok;
       },
       "ERROR: TFramecatcher Dx filter obsolete"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BuildBase();
    const ComPtr<IPin> before = chain_;
    const QStringList filters = Names();
    EXPECT_FALSE(row.insert(*fk_, chain_));
    EXPECT_EQ(chain_.Get(), before.Get());
    EXPECT_FALSE(Connected(chain_.Get()));
    EXPECT_EQ(Names(), filters);
    EXPECT_TRUE(LogHas(row.logged)) << row.logged;
    // The pin still takes the next filter.
    ComPtr<IPin> second;
    EXPECT_TRUE(fk_->InsertFilter2(CLSID_SmartTee, "Smart Tee", chain_, second));
    EXPECT_TRUE(second);
    fk_->ClearGraph(true);
  }
}

TEST_F(FilterInsertion, TwoTeesOfOneNameGetDifferentGraphNames) {
  BuildBase();
  ComPtr<IPin> preview;
  ASSERT_TRUE(fk_->InsertFilter2(CLSID_SmartTee, "Smart Tee", chain_, preview));
  ASSERT_TRUE(fk_->InsertFilter2(CLSID_SmartTee, "Smart Tee", chain_, preview));
  const QStringList tees = Names().filter(QRegularExpression("^Smart Tee\\d+$"));
  ASSERT_EQ(tees.size(), 2);
  EXPECT_NE(tees[0], tees[1]);
  fk_->ClearGraph(true);
}

// The filter without an output leaves the graph with its errors logged; the one after it still
// goes in, on the same pin, and is announced with its slot and index.
TEST_F(FilterInsertion, AnExtraFilterWithoutOutputIsSkippedAndTheNextGoesIn) {
  InProcessClass outputLess(CLSID_OutputLess, &MakeOutputLess);
  fk_->SetThirdPartyFilter(tpf_VideoPreview, 0, CLSID_OutputLess, "Sink Only", true, false);
  fk_->SetThirdPartyFilter(tpf_VideoPreview, 1, CLSID_SmartTee, "Disabled Tee", false, false);
  fk_->SetThirdPartyFilter(tpf_VideoPreview, 2, CLSID_InfTee, "Extra Tee", true, false);
  std::vector<std::pair<int, int>> connected;
  fk_->Events().OnThirdPartyFilterConnected = [&](QObject*, int slot, int index, TFK::IUnknownPtr intf) {
    EXPECT_TRUE(intf);
    connected.emplace_back(slot, index);
  };
  BuildBase();
  IPin* source = chain_.Get();
  fk_->InsertExtraFilters(tpf_VideoPreview, chain_);
  EXPECT_TRUE(LogHas("ERROR: cannot find output pin: Sink Only"));
  EXPECT_TRUE(LogHas("INFO: filter inserted on video preview:Extra Tee"));
  EXPECT_EQ(connected, (std::vector<std::pair<int, int>>{{tpf_VideoPreview, 2}}));
  const QStringList names = Names();
  EXPECT_FALSE(names.contains("Sink Only"));
  EXPECT_FALSE(names.contains("Disabled Tee"));
  EXPECT_TRUE(names.contains("Extra Tee"));
  EXPECT_NE(chain_.Get(), source);
  EXPECT_EQ(FilterName(ComPtr<IBaseFilter>::Attach([&] {
              PIN_INFO info{};
              chain_->QueryPinInfo(&info);
              return info.pFilter;
            }()).Get()),
            "Extra Tee");
  fk_->ClearGraph(true);
}

TEST_F(FilterInsertion, ARefusingMixingRenderer9GivesTheMixingRenderer7) {
  InProcessClass refusingVmr9(CLSID_VideoMixingRenderer9, &MakeNothing);
  struct Case {
    const char* name;
    int renderer;
    bool colourKey, tryVmr;
    CLSID made;
  };
  const Case cases[] = {
      {"VMR 9 refused", vr_VMR9, false, true, CLSID_VideoMixingRenderer},
      {"VMR 7", vr_VMR7, false, true, CLSID_VideoMixingRenderer},
      {"standard", vr_StandardRenderer, false, true, CLSID_VideoRenderer},
      {"colour key", vr_VMR7, true, true, CLSID_VideoRenderer},
      {"no VMR tried", vr_VMR9, false, false, CLSID_VideoRenderer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fk_->SetVideoRenderer(c.renderer);
    fk_->SetColorKeyEnabled(c.colourKey);
    BuildBase();
    ComPtr<IPin> input;
    ASSERT_TRUE(fk_->AddRenderer("rndr", TFK::ds_Display, c.tryVmr, input));
    ASSERT_TRUE(input);
    IBaseFilter* renderer = fk_->DisplayRecord(TFK::ds_Display).renderer.Get();
    ASSERT_TRUE(renderer);
    EXPECT_TRUE(fk_->DisplayRecord(TFK::ds_Display).inUse);
    CLSID clsid{};
    renderer->GetClassID(&clsid);
    EXPECT_EQ(clsid, c.made);
    EXPECT_EQ(LogHas("ADR no IDirectDrawVideo: SetSwitches skipped"), c.made == CLSID_VideoRenderer);
    // A second request for the slot replaces its renderer.
    ASSERT_TRUE(fk_->AddRenderer("rndr2", TFK::ds_Display, c.tryVmr, input));
    EXPECT_FALSE(Names().contains("rndr"));
    fk_->ClearGraph(true);
    EXPECT_FALSE(fk_->DisplayRecord(TFK::ds_Display).renderer);
    ResetProcessLog();
    EnableProcessLog();
  }
}

// The upstream link that the last connection attempt cuts is put back with its old type when it
// cannot be made again.
TEST_F(FilterInsertion, AFailedConnectionLeavesTheUpstreamLinkAsItWas) {
  BuildBase();
  auto source = dshow::test::MakeFilter<CTwoTypeSource>();
  auto pass = dshow::test::MakeFilter<CTypeTwoPass>();
  auto refuser = dshow::test::MakeFilter<CTestRenderer>([](const CMediaType&) { return false; });
  IGraphBuilder* graph = fk_->Graph();
  ASSERT_EQ(graph->AddFilter(source.Get(), u"two-type source"), com::S_OK);
  ASSERT_EQ(graph->AddFilter(pass.Get(), u"type-two pass"), com::S_OK);
  ASSERT_EQ(graph->AddFilter(refuser.Get(), u"refuser"), com::S_OK);
  const std::vector<ComPtr<IPin>> passPins = PinsOf(pass.Get());
  ASSERT_EQ(passPins.size(), 2u);
  CMediaType two = PrivateType(2);
  ASSERT_EQ(graph->ConnectDirect(source->Output(), passPins[0].Get(), &two), com::S_OK);

  EXPECT_FALSE(fk_->ConnectPins(passPins[1].Get(), refuser->Input()));
  ComPtr<IPin> peer;
  ASSERT_EQ(passPins[0]->ConnectedTo(peer.Put()), com::S_OK);
  EXPECT_EQ(peer.Get(), source->Output());
  CMediaType now;
  ASSERT_EQ(passPins[0]->ConnectionMediaType(&now), com::S_OK);
  EXPECT_TRUE(now == two);
  EXPECT_FALSE(Connected(refuser->Input()));
  fk_->ClearGraph(true);
}

TEST_F(FilterInsertion, AColourKeyWithoutOverlayMixerIsReportedAndThePreviewRuns) {
  fk_->SetColorKeyEnabled(true);
  ASSERT_TRUE(fk_->StartPreview());
  EXPECT_TRUE(LogHas("ERROR: window transparency failed, try FrameGrabber = fg_Disabled or FrameGrabber = fg_CaptureStream"));
  EXPECT_FALSE(Names().filter(QRegularExpression("^ov mix")).size());
  CLSID clsid{};
  ASSERT_TRUE(fk_->DisplayRecord(TFK::ds_Display).renderer);
  fk_->DisplayRecord(TFK::ds_Display).renderer->GetClassID(&clsid);
  EXPECT_EQ(clsid, CLSID_VideoRenderer);
  fk_->StopPreview();
}

TEST_F(FilterInsertion, DualDisplayRendersTwiceUnlessTheColourKeyIsOn) {
  fk_->SetDualDisplay_Active(true);
  ASSERT_TRUE(fk_->StartPreview());
  EXPECT_TRUE(fk_->DualDisplayOn());
  EXPECT_EQ(Names().filter(QRegularExpression("^rndr\\d+$")).size(), 2);
  EXPECT_EQ(Names().filter(QRegularExpression("^Inf Tee 2nd rnd\\d+$")).size(), 1);
  fk_->StopPreview();

  fk_->SetColorKeyEnabled(true);
  ASSERT_TRUE(fk_->StartPreview());
  EXPECT_FALSE(fk_->DualDisplayOn());
  EXPECT_TRUE(LogHas("ERROR: window transparency incompatible with dual display"));
  EXPECT_EQ(Names().filter(QRegularExpression("^rndr\\d+$")).size(), 1);
  fk_->StopPreview();
}

}  // namespace kestrom::engine::test
