// Splicing filters into a chain of pins: each operation either extends the chain through the
// caller's pin variable or, on failure, takes out what it added and leaves the pin as it was.
// Also the pin connection rule, the renderer choice and the user's extra filters.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "capture/engine/Registry2.h"
#include "capture/engine/SyncManager.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <QRandomGenerator>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::SUCCEEDED;

namespace {

// Interfaces of the platform's overlay drawing; this graph draws through Qt, so no filter
// answers them, but they are asked for so that the code keeps its fallbacks.
constexpr IID IID_IDirectDrawVideo = com::MakeGuid("{36D39EB0-DD75-11CE-BF0E-00AA0055595A}");

const char* const SlotNames[] = {"video source", "video preview", "video capture",
                                 "audio source", "audio render",  "audio capture"};


/** @brief The filter that owns a pin (null when it cannot be told). */
ComPtr<IBaseFilter> OwnerOf(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return {};
  return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

/** @brief The first free output of a filter whose media types include the major type (any when null). */
bool FreeOutput(IBaseFilter* filter, const GUID* major, ComPtr<IPin>& pin) {
  pin.Reset();
  for (const ComPtr<IPin>& p : PinsOf(filter)) {
    PIN_DIRECTION d = PINDIR_INPUT;
    ComPtr<IPin> peer;
    if (FAILED(p->QueryDirection(&d)) || d != PINDIR_OUTPUT || SUCCEEDED(p->ConnectedTo(peer.Put()))) continue;
    if (major && !PinSupportsType(p.Get(), *major, {})) continue;
    pin = p;
    return true;
  }
  return false;
}

}  // namespace

QString TFK::RandomFilterName(const QString& purpose) {
  return purpose + QString::number(QRandomGenerator::global()->bounded(2147483647));
}

bool TFK::ConnectPins(IPin* out, IPin* in) {
  if (CheckAndLog(this, !out, ll_Trace, QStringLiteral("connect: OutPin not assigned"), TLogType::e_not_assigned) ||
      CheckAndLog(this, !in, ll_Trace, QStringLiteral("connect: In not assigned"), TLogType::e_not_assigned) ||
      !graph_)
    return false;
  if (SUCCEEDED(graph_->ConnectDirect(out, in, nullptr))) return true;
  graph_->Disconnect(out);
  graph_->Disconnect(in);
  if (SUCCEEDED(graph_->Connect(out, in))) return true;
  graph_->Disconnect(out);
  graph_->Disconnect(in);
  // Some filters offer other outputs once their input is connected again.
  ComPtr<IBaseFilter> owner = OwnerOf(out);
  ComPtr<IPin> firstIn, upstream;
  if (!owner || FAILED(FindPinByName(owner.Get(), PINDIR_INPUT, QString(), firstIn, false, true)) ||
      FAILED(firstIn->ConnectedTo(upstream.Put())) || !upstream)
    return false;
  CMediaType oldType;
  const bool typeKnown = SUCCEEDED(firstIn->ConnectionMediaType(&oldType));
  graph_->Disconnect(upstream.Get());
  graph_->Disconnect(firstIn.Get());
  if (FAILED(graph_->Connect(upstream.Get(), firstIn.Get()))) {
    // The filter must not be left cut off from its source.
    if (!typeKnown || FAILED(graph_->ConnectDirect(upstream.Get(), firstIn.Get(), &oldType)))
      WriteLog(QStringLiteral("ERROR: connect: upstream link lost on ") + FilterName(owner.Get()));
    return false;
  }
  return SUCCEEDED(graph_->Connect(out, in));
}

bool TFK::InsertFilterInline(const GUID& clsid, const QString& name, ComPtr<IPin>& chain, const GUID* major,
                             ComPtr<IBaseFilter>* made) {
  if (!chain) return false;
  ComPtr<IPin> input, output;
  ComPtr<IBaseFilter> filter;
  if (!AddFilterGetInput(clsid, name, input, filter)) {
    if (filter) graph_->RemoveFilter(filter.Get());
    return false;
  }
  if (!ConnectPins(chain.Get(), input.Get())) {
    graph_->RemoveFilter(filter.Get());
    WriteLog(QStringLiteral("ERROR: InsertFilterInline cannot connect ") + name);
    return false;
  }
  if (!FreeOutput(filter.Get(), major, output)) {
    graph_->Disconnect(chain.Get());
    graph_->Disconnect(input.Get());
    graph_->RemoveFilter(filter.Get());
    WriteLog(QStringLiteral("ERROR: InsertFilterInline: out pin not found in ") + name);
    return false;
  }
  chain = output;
  if (made) *made = filter;
  return true;
}

bool TFK::InsertFilter2(const GUID& clsid, const QString& name, ComPtr<IPin>& chain, ComPtr<IPin>& second) {
  if (!chain) return false;
  ComPtr<IPin> input, first, otherOutput;
  ComPtr<IBaseFilter> filter;
  if (!AddFilterGetInput2Outputs(clsid, name, otherOutput, first, input, filter)) {
    if (filter) graph_->RemoveFilter(filter.Get());
    return false;
  }
  if (!ConnectPins(chain.Get(), input.Get())) {
    graph_->RemoveFilter(filter.Get());
    WriteLog(QStringLiteral("ERROR: InsertFilter2 cannot connect ") + name);
    return false;
  }
  // Only once the filter is in do the caller's pins change.
  second = otherOutput;
  chain = first;
  return true;
}

bool TFK::InsertFilter(const GUID& clsid, const QString& name, ComPtr<IPin>& chain, ComPtr<IBaseFilter>* made) {
  if (!chain) return false;
  ComPtr<IPin> input;
  ComPtr<IBaseFilter> filter;
  if (!AddFilterGetInput(clsid, name, input, filter)) {
    if (filter) graph_->RemoveFilter(filter.Get());
    return false;
  }
  if (!ConnectPins(chain.Get(), input.Get())) {
    graph_->RemoveFilter(filter.Get());
    WriteLog(QStringLiteral("ERROR: InsertFilter cannot connect ") + name);
    return false;
  }
  chain.Reset();
  if (made) *made = filter;
  return true;
}

bool TFK::InsertExistingFilter(IBaseFilter* filter, ComPtr<IPin>& chain) {
  if (!chain || !filter) return false;
  const QString name = FilterName(filter).left(128);
  ComPtr<IPin> input, output;
  if (FAILED(FindPinByName(filter, PINDIR_INPUT, QString(), input, true, true))) {
    WriteLog(QStringLiteral("ERROR: InsertExistingFilter cannot find input pin  on ") + name);
    return false;
  }
  if (!FreeOutput(filter, nullptr, output)) {
    WriteLog(QStringLiteral("ERROR: InsertExistingFilter cannot find output pin on ") + name);
    return false;
  }
  if (!ConnectPins(chain.Get(), input.Get())) return false;
  WriteLog(QStringLiteral("InsertExistingFilter inserted  ") + name);
  chain = output;
  return true;
}

bool TFK::AddRenderer(const QString& name, int slot, bool tryVMR, ComPtr<IPin>& input, int kind) {
  input.Reset();
  if (slot < 0 || slot >= DisplaySlots) return false;
  WriteLog(QStringLiteral("ADR begin"));
  if (displays_[slot].renderer) ReleaseDisplay(slot);
  if (kind < 0) kind = snapshot_.videoRenderer;
  ComPtr<IBaseFilter> renderer;
  const auto make = [&](const GUID& clsid, const QString& purpose) {
    return renderer || CreateInstanceLogged(clsid, IID_IBaseFilter, renderer.PutVoid(), purpose);
  };
  if (tryVMR && !ColorKeyEnabled_ && kind != vr_StandardRenderer) {
    WriteLog(QStringLiteral("cr VMR"));
    if (kind == vr_VMR9) make(CLSID_VideoMixingRenderer9, QStringLiteral("VMR9"));
    else if (kind == vr_VMR7) make(CLSID_VideoMixingRenderer, QStringLiteral("VMR7"));
    // Whichever mixing renderer the system has.
    make(CLSID_VideoMixingRenderer, QStringLiteral("VMR7"));
    make(CLSID_VideoMixingRenderer9, QStringLiteral("VMR9"));
  }
  if (!renderer) {
    WriteLog(QStringLiteral("ADR cr normal"));
    if (make(CLSID_VideoRenderer, QStringLiteral("Video Renderer"))) {
      ComPtr<IUnknown> surfaces;
      // Off-screen RGB surfaces only matter to renderers drawing through DirectDraw.
      if (FAILED(renderer->QueryInterface(IID_IDirectDrawVideo, surfaces.PutVoid())) || !surfaces)
        WriteLog(QStringLiteral("ADR no IDirectDrawVideo: SetSwitches skipped"));
    }
  }
  bool added = false;
  if (renderer) {
    WriteLog(QStringLiteral("ADR add filt"));
    added = AddFilterToGraph(renderer.Get(), name);
    if (added) {
      WriteLog(QStringLiteral("ADR find input ok: ") + name);
      displays_[slot].renderer = renderer;
      displays_[slot].inUse = true;
    } else {
      WriteLog(QStringLiteral("ERROR: AddFilterGetInput cannot add filter ") + name);
    }
  } else {
    WriteLog(QStringLiteral("ERROR: AddFilterGetInput cocreate instance failed on filter ") + name);
  }
  WriteLog(QStringLiteral("ADR end"));
  if (!added) return false;
  if (FAILED(FindPinByName(renderer.Get(), PINDIR_INPUT, QString(), input, true, true))) {
    WriteLog(QStringLiteral("ERROR: AddFilterGetInput cannot find input pin in filter ") + name);
    return false;
  }
  return true;
}

void TFK::SetThirdPartyFilter(int slot, int index, const GUID& clsid, const QString& name, bool enabled,
                              bool keepSettings) {
  if (slot < 0 || slot >= ThirdPartyFilterSlots || index < 0 || index >= ThirdPartyFiltersPerSlot) return;
  TThirdPartyFilter& entry = thirdPartyFilters_[slot][index];
  entry.clsid = clsid;
  entry.name = name;
  entry.enabled = enabled;
  entry.keepSettings = keepSettings;
}

QString TFK::ExtraFilterKey(const GUID& clsid) const {
  const TDevices* list = VideoDeviceList();
  const int index = boundVideoDevice_ != -1 ? boundVideoDevice_ : VideoDevice_;
  const QString device = list && index >= 0 && index < list->Count() ? list->RegistryKeyOf(index) : QString();
  return device + QStringLiteral("\\ThirdPartyFilters\\") + com::GuidToString(clsid);
}

void TFK::InsertExtraFilters(int slot, ComPtr<IPin>& chain) {
  if (!chain || slot < 0 || slot >= ThirdPartyFilterSlots) return;
  for (int index = 0; index < ThirdPartyFiltersPerSlot; ++index) {
    TThirdPartyFilter& entry = thirdPartyFilters_[slot][index];
    if (!entry.enabled || entry.clsid == com::GUID_NULL) continue;
    const QString& name = entry.name;
    ComPtr<IBaseFilter> filter;
    ComPtr<IPin> input, output;
    bool ok = CreateInstanceLogged(entry.clsid, IID_IBaseFilter, filter.PutVoid(), QStringLiteral("create third party filter"));
    const std::u16string wide = name.toStdU16String();
    ok = ok && !CheckAndLog(this, FAILED(graph_->AddFilter(filter.Get(), wide.c_str())), ll_Error,
                            QStringLiteral("cannot add ") + name, TLogType::e_add_filter);
    ok = ok && !CheckAndLog(this, FAILED(FindPinByName(filter.Get(), PINDIR_INPUT, QString(), input, true, true)),
                            ll_Error, QStringLiteral("cannot find input pin: ") + name, TLogType::e_pin_not_found);
    ok = ok && !CheckAndLog(this, !FreeOutput(filter.Get(), nullptr, output), ll_Error,
                            QStringLiteral("cannot find output pin: ") + name, TLogType::e_pin_not_found);
    ok = ok && !CheckAndLog(this, !ConnectPins(chain.Get(), input.Get()), ll_Warning,
                            QStringLiteral("cannot connect third-party filter ") + name,
                            TLogType::w_cannot_connect_thirdparty_filter);
    if (!ok) {
      // A failing extra filter never fails the build: the next one goes on from the same pin.
      if (filter) graph_->RemoveFilter(filter.Get());
      continue;
    }
    CheckAndLog(this, true, ll_Info,
                QStringLiteral("filter inserted on ") + QLatin1String(SlotNames[slot]) + QLatin1Char(':') + name,
                TLogType::i_third_party_filter_inserted);
    chain = output;
    entry.filter = filter;
    ComPtr<IUnknown> unknown;
    filter->QueryInterface(com::IID_IUnknown, unknown.PutVoid());
    Fire(&TFKEvents::OnThirdPartyFilterConnected, slot, index, unknown);
    if (entry.keepSettings) LoadFilterState(filter.Get(), ExtraFilterKey(entry.clsid));
  }
}

bool TFK::InsertGrabberBranch(ComPtr<IPin>& chain, const GUID* intermediate) {
  ComPtr<IPin> branch = chain;
  ComPtr<IBaseFilter> tee;
  if (!InsertFilterInline(CLSID_InfTee, QStringLiteral("Inf Tee Vid"), branch, nullptr, &tee)) return false;
  ComPtr<IBaseFilter> decoder;
  if (intermediate) {
    if (!InsertFilterInline(*intermediate, QStringLiteral("Interm Filter"), branch, &MEDIATYPE_Video, &decoder))
      return false;
    SetDVResolution(decoder.Get());
  }
  if (!InsertGrabber(QStringLiteral("GRB_RGB"), branch) || !ConnectNullRenderer(branch.Get())) return false;
  ComPtr<IPin> next;
  if (!FreeOutput(tee.Get(), nullptr, next)) return false;
  chain = next;
  return true;
}

bool TFK::InsertVideoTransforms(ComPtr<IPin>& chain) {
  if (GetVideoProcessing_Deinterlacing() == di_HalfSize && !InsertTransformFilter(chain, false)) return false;
  if (VideoProcessing_Rotation_ != rt_0_deg && !InsertTransformFilter(chain, true)) return false;
  return true;
}

}  // namespace kestrom::engine
