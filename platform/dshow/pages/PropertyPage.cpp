#include "platform/dshow/pages/PropertyPage.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/pages/PageBuilders.h"
#include "platform/dshow/pages/PageWidget.h"
#include "platform/dshow/sources/DeviceFilter.h"
#include "platform/ui/Dialogs.h"

#include <QPointer>
#include <QWidget>
#include <memory>
#include <new>

namespace kestrom::dshow {

using namespace com;

namespace {

class CPropertyPage final : public CUnknown, public IPropertyPage {
 public:
  explicit CPropertyPage(REFCLSID clsid) : CUnknown("property page", nullptr), clsid_(clsid) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IPropertyPage) return GetInterface(static_cast<IPropertyPage*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT SetPageSite(IPropertyPageSite* site) override {
    site_ = ComPtr<IPropertyPageSite>(site);
    return S_OK;
  }
  HRESULT SetObjects(ULONG count, IUnknown** objects) override {
    if (count && !objects) return E_POINTER;
    model_.reset();
    if (count == 0) return S_OK;
    pages::Objects list;
    for (ULONG i = 0; i < count; ++i) list.emplace_back(objects[i]);
    auto model = std::make_unique<pages::PageModel>(pages::PageTitle(clsid_));
    if (!pages::BuildPage(clsid_, list, model.get())) return E_NOINTERFACE;
    model_ = std::move(model);
    return S_OK;
  }
  HRESULT GetTitle(LPWSTR* title) override {
    if (!title) return E_POINTER;
    return CopyToTaskMemory(pages::PageTitle(clsid_), title);
  }
  HRESULT Activate(QWidget* parent, QWidget** widget) override {
    if (!widget) return E_POINTER;
    *widget = nullptr;
    if (!model_) return E_UNEXPECTED;
    widget_ = pages::BuildPageWidget(model_.get(), parent, [this] {
      if (site_) site_->OnStatusChange(PROPPAGESTATUS_DIRTY);
    });
    *widget = widget_;
    return S_OK;
  }
  HRESULT Deactivate() override {
    if (widget_) widget_->deleteLater();
    widget_ = nullptr;
    return S_OK;
  }
  HRESULT IsPageDirty() override { return model_ && model_->IsDirty() ? S_OK : S_FALSE; }
  HRESULT Apply() override { return model_ ? model_->Apply() : S_OK; }
  HRESULT Cancel() override {
    if (model_) model_->Cancel();
    return S_OK;
  }

 private:
  CLSID clsid_;
  std::unique_ptr<pages::PageModel> model_;
  ComPtr<IPropertyPageSite> site_;
  QPointer<QWidget> widget_;
};

// The frame's side of the pages: passes their state changes on to the dialog's Apply button.
class FrameSite final : public CUnknown, public IPropertyPageSite {
 public:
  FrameSite() : CUnknown("property page site", nullptr) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IPropertyPageSite) return GetInterface(static_cast<IPropertyPageSite*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }
  HRESULT OnStatusChange(DWORD) override {
    if (changed) changed();
    return S_OK;
  }
  std::function<void()> changed;
};

template <typename T>
ComPtr<T> Make(T* object) {
  object->NonDelegatingAddRef();
  return ComPtr<T>::Attach(object);
}

}  // namespace

ComPtr<IPropertyPage> CreatePropertyPage(REFCLSID clsid) {
  if (pages::PageTitle(clsid).isEmpty()) return {};
  auto* page = new (std::nothrow) CPropertyPage(clsid);
  if (!page) return {};
  ComPtr<CPropertyPage> held = Make(page);
  return ComPtr<IPropertyPage>(static_cast<IPropertyPage*>(held.Get()));
}

HRESULT OleCreatePropertyFrame(QWidget* parent, int x, int y, const QString& caption, ULONG objectCount,
                               IUnknown** objects, ULONG pageCount, const CLSID* pages, bool* okPressed) {
  if (okPressed) *okPressed = false;
  if ((objectCount && !objects) || (pageCount && !pages)) return E_POINTER;
  struct Entry {
    ComPtr<IPropertyPage> page;
    ComPtr<FrameSite> site;
  };
  std::vector<Entry> entries;
  ui::PropertyFrameRequest request;
  request.caption = caption;
  request.position = QPoint(x, y);
  for (ULONG i = 0; i < pageCount; ++i) {
    ComPtr<IPropertyPage> page = CreatePropertyPage(pages[i]);
    if (!page || page->SetObjects(objectCount, objects) != S_OK) continue;
    LPWSTR title = nullptr;
    if (FAILED(page->GetTitle(&title))) continue;
    ui::PropertyFramePage tab;
    tab.title = QString::fromUtf16(title);
    CoTaskMemFree(title);
    ComPtr<FrameSite> site = Make(new FrameSite);
    page->SetPageSite(site.Get());
    IPropertyPage* raw = page.Get();
    FrameSite* rawSite = site.Get();
    tab.activate = [raw, rawSite](QWidget* holder, std::function<void()> changed) -> QWidget* {
      rawSite->changed = std::move(changed);
      QWidget* widget = nullptr;
      return SUCCEEDED(raw->Activate(holder, &widget)) ? widget : nullptr;
    };
    tab.dirty = [raw] { return raw->IsPageDirty() == S_OK; };
    tab.apply = [raw] { return SUCCEEDED(raw->Apply()); };
    tab.cancel = [raw] { raw->Cancel(); };
    request.pages.push_back(std::move(tab));
    entries.push_back({page, site});
  }
  if (entries.empty()) return S_FALSE;
  const int result = ui::AppDialogs().PropertyFrame(request, parent);
  for (Entry& entry : entries) {
    entry.site->changed = nullptr;
    entry.page->Deactivate();
    entry.page->SetPageSite(nullptr);
    entry.page->SetObjects(0, nullptr);
  }
  if (okPressed) *okPressed = result == ui::mrOk;
  return S_OK;
}

HRESULT ShowObjectPages(QWidget* parent, int x, int y, const QString& caption, IUnknown* object, bool* okPressed) {
  if (okPressed) *okPressed = false;
  if (!object) return E_POINTER;
  ComPtr<ISpecifyPropertyPages> specify;
  if (FAILED(object->QueryInterface(IID_ISpecifyPropertyPages, specify.PutVoid())) || !specify) return S_FALSE;
  CAUUID pages;
  const HRESULT hr = specify->GetPages(&pages);
  if (FAILED(hr)) return hr;
  const HRESULT shown = pages.cElems ? OleCreatePropertyFrame(parent, x, y, caption, 1, &object, pages.cElems,
                                                              pages.pElems, okPressed)
                                     : S_FALSE;
  CoTaskMemFree(pages.pElems);
  return shown;
}

}  // namespace kestrom::dshow
