#pragma once
// Settings pages of filters and pins. An object with settings names the pages that show them
// (ISpecifyPropertyPages); a page (IPropertyPage) takes the objects, builds its widget from the
// control interfaces they answer, and applies or cancels what the user changed. The pages and
// the frame that shows them live in platform/dshow/pages.
//
// The capture and compressor dialogs of the old video drivers are declared so that callers can
// ask for them; no object on this platform answers them.

#include "platform/dshow/base/ControlInterfaces.h"

#include <initializer_list>
#include <vector>

class QWidget;

namespace kestrom::dshow {

/** @brief A counted array of class ids; pElems is task memory the caller frees. */
struct CAUUID {
  ULONG cElems = 0;
  GUID* pElems = nullptr;
};

inline constexpr IID IID_ISpecifyPropertyPages = MakeGuid("{B196B28B-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IPropertyPageSite = MakeGuid("{B196B28C-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IPropertyPage = MakeGuid("{B196B28D-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IAMVfwCaptureDialogs = MakeGuid("{D8D715A0-6E5E-11D0-B3F0-00AA003761C5}");
inline constexpr IID IID_IAMVfwCompressDialogs = MakeGuid("{D8D715A3-6E5E-11D0-B3F0-00AA003761C5}");

// Our pages, one class each.
inline constexpr CLSID CLSID_VideoProcAmpPage = MakeGuid("{C05EAC79-6FEC-4FE3-99B3-B508AFC36963}");
inline constexpr CLSID CLSID_CameraControlPage = MakeGuid("{6C0F32BD-D877-4153-96F6-3F911FFA002B}");
inline constexpr CLSID CLSID_VideoDecoderPage = MakeGuid("{3CF81D90-7623-494E-AC3F-BA612869E55C}");
inline constexpr CLSID CLSID_StreamFormatPage = MakeGuid("{2FED485C-FB40-4653-8F24-DC12ECD1B5DA}");
inline constexpr CLSID CLSID_CrossbarPage = MakeGuid("{0A7A0E27-94B7-441E-99F0-F10D853B7D54}");
inline constexpr CLSID CLSID_TVTunerPage = MakeGuid("{6FA632C0-567E-460E-9A8F-FF5C80892382}");
inline constexpr CLSID CLSID_AudioInputPage = MakeGuid("{19252C38-9E31-483A-964B-3FD09FFE1F28}");
inline constexpr CLSID CLSID_CompressionPage = MakeGuid("{9161CE59-7D38-40EC-935D-7BB2697DF5D7}");
inline constexpr CLSID CLSID_AudioFormatPage = MakeGuid("{12350F71-DE76-491C-8ED7-9B5A963537FA}");

/** @brief The pages an object shows. */
struct ISpecifyPropertyPages : IUnknown {
  virtual HRESULT GetPages(CAUUID* pages) = 0;

 protected:
  ~ISpecifyPropertyPages() = default;
};

inline constexpr DWORD PROPPAGESTATUS_DIRTY = 0x1;
inline constexpr DWORD PROPPAGESTATUS_VALIDATE = 0x2;

/** @brief What holds a page (the frame): told when the page's state changes. */
struct IPropertyPageSite : IUnknown {
  virtual HRESULT OnStatusChange(DWORD flags) = 0;

 protected:
  ~IPropertyPageSite() = default;
};

/** @brief One page of settings over a set of objects. */
struct IPropertyPage : IUnknown {
  virtual HRESULT SetPageSite(IPropertyPageSite* site) = 0;
  /**
   * @brief The objects whose settings the page shows (count 0 lets them go). E_NOINTERFACE when
   * none of them answers what the page needs, or the page would be empty: a frame leaves it out.
   */
  virtual HRESULT SetObjects(ULONG count, IUnknown** objects) = 0;
  /** @brief *title is task memory. */
  virtual HRESULT GetTitle(LPWSTR* title) = 0;
  /** @brief Builds the page's controls as a child of parent (which owns them). */
  virtual HRESULT Activate(QWidget* parent, QWidget** widget) = 0;
  /** @brief The widget is going away; the page keeps its values. */
  virtual HRESULT Deactivate() = 0;
  /** @brief S_OK when the page holds changes not yet applied, else S_FALSE. */
  virtual HRESULT IsPageDirty() = 0;
  virtual HRESULT Apply() = 0;
  /** @brief Puts back what the page found (or last applied) in the objects. */
  virtual HRESULT Cancel() = 0;

 protected:
  ~IPropertyPage() = default;
};

enum VfwCaptureDialogs : int { VfwCaptureDialog_Source = 1, VfwCaptureDialog_Format = 2, VfwCaptureDialog_Display = 4 };
enum VfwCompressDialogs : int {
  VfwCompressDialog_Config = 1,
  VfwCompressDialog_About = 2,
  VfwCompressDialog_QueryConfig = 4,
  VfwCompressDialog_QueryAbout = 8,
};

struct IAMVfwCaptureDialogs : IUnknown {
  virtual HRESULT HasDialog(int dialog) = 0;
  virtual HRESULT ShowDialog(int dialog, OAHWND window) = 0;
  virtual HRESULT SendDriverMessage(int dialog, int message, LONG param1, LONG param2) = 0;

 protected:
  ~IAMVfwCaptureDialogs() = default;
};

struct IAMVfwCompressDialogs : IUnknown {
  virtual HRESULT ShowDialog(int dialog, OAHWND window) = 0;
  virtual HRESULT GetState(void* state, int* size) = 0;
  virtual HRESULT SetState(void* state, int size) = 0;
  virtual HRESULT SendDriverMessage(int message, LONG param1, LONG param2) = 0;

 protected:
  ~IAMVfwCompressDialogs() = default;
};

/** @brief A page an object offers while it answers the page's interface. */
struct PageOffer {
  const IID* iid;
  const CLSID* page;
};

/**
 * @brief The pages of offers whose interface the object answers, in their order, as task
 * memory (no pages: cElems 0, pElems null).
 */
HRESULT PagesAnswered(IUnknown* object, const std::vector<PageOffer>& offers, CAUUID* pages);

/** @brief ISpecifyPropertyPages as a member object of a filter or pin, over its offers. */
class CSpecifyPropertyPages final : public ISpecifyPropertyPages {
 public:
  CSpecifyPropertyPages(IUnknown* owner, std::initializer_list<PageOffer> offers) : owner_(owner), offers_(offers) {}

  HRESULT QueryInterface(REFIID iid, void** object) override { return owner_->QueryInterface(iid, object); }
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }
  HRESULT GetPages(CAUUID* pages) override { return PagesAnswered(owner_, offers_, pages); }

 private:
  IUnknown* owner_;
  std::vector<PageOffer> offers_;
};

}  // namespace kestrom::dshow
