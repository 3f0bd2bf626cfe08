// The display slots of a live graph: which renderers a build installs (one, or two for dual
// display), their release and showing their windows.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <QCoreApplication>
#include <QThread>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::SUCCEEDED;

namespace {

constexpr CLSID CLSID_OverlayMixer = com::MakeGuid("{CD8743A1-3736-11D0-9E69-00C04FD7C15B}");
constexpr IID IID_IOverlay = com::MakeGuid("{56A868A1-0AD4-11CE-B03A-0020AF0BA770}");

}  // namespace

void TFK::CheckDualDisplay() {
  const bool videoPort = videoTable_.Bool("_IsVideoPortAvailable") &&
                         (DisplayWindow_.GetBool(TVideoWindow::VideoPortEnabled) ||
                          DualDisplayWindow_.GetBool(TVideoWindow::VideoPortEnabled));
  dualDisplay_ = DisplayWindow_.GetBool(TVideoWindow::Active) && DualDisplayWindow_.GetBool(TVideoWindow::Active) &&
                 !videoPort;
  if (dualDisplay_ && ColorKeyEnabled_) {
    CheckAndLog(this, true, ll_Error, QStringLiteral("window transparency incompatible with dual display"),
                TLogType::e_incompatible_options);
    dualDisplay_ = false;
  }
}

void TFK::InsertOverlayMixer(ComPtr<IPin>& pin) {
  ComPtr<IPin> chain = pin, input;
  ComPtr<IBaseFilter> mixer;
  ComPtr<IUnknown> overlay;
  const bool ok = AddFilterGetInput(CLSID_OverlayMixer, QStringLiteral("ov mix"), input, mixer) &&
                  ConnectPins(chain.Get(), input.Get()) &&
                  SUCCEEDED(input->QueryInterface(IID_IOverlay, overlay.PutVoid())) && overlay &&
                  SUCCEEDED(FindPinByName(mixer.Get(), PINDIR_OUTPUT, QString(), chain, true, true));
  if (ok) {
    pin = chain;
    return;
  }
  CheckAndLog(this, true, ll_Error,
              QStringLiteral("window transparency failed, try FrameGrabber = fg_Disabled or FrameGrabber = fg_CaptureStream"),
              TLogType::e_window_transparency_failed);
  if (mixer) graph_->RemoveFilter(mixer.Get());
}

bool TFK::InsertVideoDisplay(IPin* pin) {
  if (!pin) return false;
  ComPtr<IPin> chain(pin);
  if (ColorKeyEnabled_) {
    WriteLog(QStringLiteral("ck enabled"));
    ComPtr<IUnknown> overlay;
    if (!builder_ || FAILED(builder_->FindInterface(nullptr, nullptr, videoSource_.Get(), IID_IOverlay, overlay.PutVoid()))) {
      WriteLog(QStringLiteral("ck: insert ov"));
      InsertOverlayMixer(chain);
    }
  }
  const TSaveFilterState saved = SaveFilterState(chain.Get());
  bool ok = InstallDisplay(chain.Get(), true);
  if (!ok && snapshot_.videoRenderer != vr_None) {
    for (int slot = 0; slot < DisplaySlots; ++slot) ReleaseDisplay(slot);
    if (RestoreFilterState(saved, chain)) {
      WriteLog(QStringLiteral("GRAPH RESTORED..."));
      ok = InstallDisplay(chain.Get(), false);
    }
  }
  CheckAndLog(this, !ok, ll_Trace, QStringLiteral("insert video renderer"), TLogType::e_failed);
  CheckAndLog(this, !ok, ll_Trace, QStringLiteral("insert video display"), TLogType::e_failed);
  return ok;
}

bool TFK::InstallDisplay(IPin* pin, bool tryVMR) {
  WriteLog(QStringLiteral("installing display"));
  ComPtr<IPin> chain(pin);
  bool ok = [&] {
    int kind = snapshot_.videoRenderer;
    // The mixing renderer 9 shows full-size DV badly; the 7 takes its place.
    if ((snapshot_.frameGrabber == fg_CaptureStream || snapshot_.frameGrabber == fg_Disabled) && IsDVSource() &&
        GetVideoSize() == 4 && kind == vr_VMR9)
      kind = vr_VMR7;
    if (snapshot_.frameGrabber == fg_Disabled && IsMpegSource() && !InsertGrabber(QStringLiteral("GRB_Notify"), chain))
      return false;
    if (kind == vr_None) return ConnectNullRenderer(chain.Get());
    ComPtr<IBaseFilter> tee;
    if (dualDisplay_ &&
        !InsertFilterInline(CLSID_InfTee, QStringLiteral("Inf Tee 2nd rnd"), chain, &MEDIATYPE_Video, &tee))
      return false;
    const auto render = [&](int slot, IPin* from) {
      ComPtr<IPin> input;
      const bool made = AddRenderer(RandomFilterName(QStringLiteral("rndr")), slot, tryVMR, input, kind);
      if (made && SUCCEEDED(builder_->RenderStream(nullptr, nullptr, from, nullptr, displays_[slot].renderer.Get())))
        return true;
      ReleaseDisplay(slot);
      return false;
    };
    WriteLog(QStringLiteral("IVR add rend"));
    if (!render(ds_Display, chain.Get())) return false;
    WriteLog(QStringLiteral("IVR cx ok"));
    if (dualDisplay_) {
      ComPtr<IPin> next;
      if (FAILED(FindPinByName(tee.Get(), PINDIR_OUTPUT, QString(), next, true, true))) return false;
      render(ds_DualDisplay, next.Get());
    }
    return true;
  }();
  CheckAndLog(this, !ok, ll_Trace, QStringLiteral("installing display done"), TLogType::e_failed);
  return ok;
}

void TFK::ReleaseDisplay(int slot) {
  if (slot < 0 || slot >= DisplaySlots) return;
  TDisplayRecord& record = displays_[slot];
  if (record.window) {
    record.window->put_Visible(0);
    record.window->put_Owner(0);
  }
  if (record.renderer && graph_) graph_->RemoveFilter(record.renderer.Get());
  record = TDisplayRecord{};
}

void TFK::ShowDisplayWindows() {
  if (!initialised_) return;
  for (TDisplayRecord& record : displays_) {
    if (record.renderer && !record.window)
      record.renderer->QueryInterface(IID_IVideoWindow, record.window.PutVoid());
    if (!record.window) continue;
    const bool shown = static_cast<bool>(record.renderer);
    if (shown && record.width > 0 && record.height > 0)
      record.window->SetWindowPosition(record.left, record.top, record.width, record.height);
    record.window->put_Visible(shown ? -1 : 0);
  }
  QCoreApplication::processEvents();
  QThread::msleep(1);
  RepaintDisplays();
}

void TFK::PrepareDisplay(int slot) {
  TDisplayRecord& record = displays_[slot];
  if (!record.renderer) return;
  if (!record.window) record.renderer->QueryInterface(IID_IVideoWindow, record.window.PutVoid());
  // The window appears when the build shows it, not when the first frame arrives.
  if (record.window) record.window->put_AutoShow(0);
}

void TFK::LinkDisplayWindows() {}

void TFK::ResizeDisplays(bool) {}

// The colour key needs an overlay surface on the renderer's input, which no renderer here has.
void TFK::SetupColorKey() {}

void TFK::RestoreMixer() {
  if (!savedSpeaker_) return;
  SetSpeakerVolume(savedSpeaker_->first, savedSpeaker_->second);
  savedSpeaker_.reset();
}

}  // namespace kestrom::engine
