#include "platform/dshow/writers/WriterFilters.h"

#include "platform/com/ClassFactory.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/AsfWriter.h"
#include "platform/dshow/writers/AudioRenderer.h"
#include "platform/dshow/writers/AviMux.h"
#include "platform/dshow/writers/FileWriter.h"
#include "platform/dshow/writers/VideoRenderer.h"
#include "platform/registry/Registry.h"

#include <mutex>
#include <new>

namespace kestrom::dshow {

using namespace com;

namespace {

template <const CLSID* Id>
CUnknown* NewCompressor(IUnknown* outer, HRESULT* hr) {
  return CreateCompressor(*Id, outer, hr);
}

struct ClassEntry {
  const CLSID* clsid;
  NewComObjectFunction create;
};

const ClassEntry kClasses[] = {
    {&CLSID_AviDest, &CAviMux::CreateInstance},
    {&CLSID_FileWriter, &CFileWriter::CreateInstance},
    {&CLSID_AudioRender, &CAudioRenderer::CreateInstance},
    {&CLSID_WMAsfWriter, &CAsfWriter::CreateInstance},
    {&CLSID_MpegWriter, &CMpegWriter::CreateInstance},
    {&CLSID_VideoRenderer, &CVideoRenderer::CreateStandard},
    {&CLSID_VideoMixingRenderer, &CVideoRenderer::CreateVmr7},
    {&CLSID_VideoMixingRenderer9, &CVideoRenderer::CreateVmr9},
    {&CLSID_Mpeg4V2Compressor, &NewCompressor<&CLSID_Mpeg4V2Compressor>},
    {&CLSID_MjpegCompressor, &NewCompressor<&CLSID_MjpegCompressor>},
    {&CLSID_DvCompressor, &NewCompressor<&CLSID_DvCompressor>},
    {&CLSID_Wmv2Compressor, &NewCompressor<&CLSID_Wmv2Compressor>},
    {&CLSID_AdpcmCompressor, &NewCompressor<&CLSID_AdpcmCompressor>},
    {&CLSID_Wmav2Compressor, &NewCompressor<&CLSID_Wmav2Compressor>},
    {&CLSID_PcmCompressor, &NewCompressor<&CLSID_PcmCompressor>},
};

void RegisterClassObjects() {
  for (const ClassEntry& c : kClasses) {
    auto* factory = new (std::nothrow) CClassFactory(c.create, nullptr);
    if (!factory) continue;
    factory->NonDelegatingAddRef();
    DWORD cookie = 0;
    CoRegisterClassObject(*c.clsid, factory->GetInner(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    factory->NonDelegatingRelease();
  }
}

const REGPINTYPES kAnyType{&GUID_NULL, &GUID_NULL};
const REGPINTYPES kVideoType{&MEDIATYPE_Video, &GUID_NULL};
const REGPINTYPES kAudioType{&MEDIATYPE_Audio, &GUID_NULL};
const REGPINTYPES kStreamType{&MEDIATYPE_Stream, &GUID_NULL};

HRESULT Register(IFilterMapper2* mapper, REFCLSID clsid, const QString& name, DWORD merit, const CLSID* category,
                 std::initializer_list<REGFILTERPINS> pins) {
  const std::vector<REGFILTERPINS> list(pins);
  REGFILTER2 data{};
  data.dwVersion = 1;
  data.dwMerit = merit;
  data.cPins = ULONG(list.size());
  data.rgPins = list.data();
  return mapper->RegisterFilter(clsid, reinterpret_cast<LPCWSTR>(name.utf16()), nullptr, category, nullptr, &data);
}

REGFILTERPINS Pin(bool output, bool rendered, bool many, const REGPINTYPES* type) {
  return REGFILTERPINS{nullptr, rendered, output, FALSE, many, nullptr, nullptr, 1, type};
}

}  // namespace

QString MpegWriterName() { return QStringLiteral("Kestrom MPEG Writer"); }

HRESULT RegisterWriterFilters() {
  static std::once_flag once;
  std::call_once(once, &RegisterClassObjects);

  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.PutVoid());
  if (FAILED(hr)) return hr;
  HRESULT result = S_OK;
  auto keep = [&](HRESULT r) {
    if (FAILED(r) && SUCCEEDED(result)) result = r;
  };

  // Ends of recording graphs: added by class id, never picked by automatic connection.
  keep(Register(mapper.Get(), CLSID_AviDest, QStringLiteral("AVI Mux"), MERIT_DO_NOT_USE, nullptr,
                {Pin(false, false, true, &kAnyType), Pin(true, false, false, &kStreamType)}));
  keep(Register(mapper.Get(), CLSID_FileWriter, QStringLiteral("File writer"), MERIT_DO_NOT_USE, nullptr,
                {Pin(false, true, false, &kAnyType)}));

  keep(Register(mapper.Get(), CLSID_WMAsfWriter, QStringLiteral("WM ASF Writer"), MERIT_DO_NOT_USE, nullptr,
                {Pin(false, true, true, &kAnyType)}));
  // The MPEG writer is found by its class id's name and among the filters by its own.
  keep(Register(mapper.Get(), CLSID_MpegWriter, MpegWriterName(), MERIT_DO_NOT_USE, nullptr,
                {Pin(false, true, true, &kAnyType)}));
  {
    registry::TRegistry classes(registry::HKEY_CLASSES_ROOT);
    if (!classes.OpenKey(QStringLiteral("\\CLSID\\") + GuidToString(CLSID_MpegWriter), true) ||
        !classes.WriteString(QString(), MpegWriterName()))
      keep(E_FAIL);
  }

  // Renderers: automatic rendering ends video and sound streams in them.
  keep(Register(mapper.Get(), CLSID_AudioRender, QStringLiteral("Audio Renderer"), MERIT_PREFERRED, nullptr,
                {Pin(false, true, false, &kAudioType)}));
  keep(Register(mapper.Get(), CLSID_VideoRenderer, QStringLiteral("Video Renderer"), MERIT_PREFERRED, nullptr,
                {Pin(false, true, false, &kVideoType)}));
  keep(Register(mapper.Get(), CLSID_VideoMixingRenderer, QStringLiteral("Video Mixing Renderer"), MERIT_DO_NOT_USE,
                nullptr, {Pin(false, true, false, &kVideoType)}));
  keep(Register(mapper.Get(), CLSID_VideoMixingRenderer9, QStringLiteral("Video Mixing Renderer 9"), MERIT_DO_NOT_USE,
                nullptr, {Pin(false, true, false, &kVideoType)}));

  for (const CompressorInfo& c : VideoCompressors())
    keep(Register(mapper.Get(), c.clsid, c.name, MERIT_DO_NOT_USE, &CLSID_VideoCompressorCategory,
                  {Pin(false, false, false, &kVideoType), Pin(true, false, false, &kVideoType)}));
  for (const CompressorInfo& c : AudioCompressors())
    keep(Register(mapper.Get(), c.clsid, c.name, MERIT_DO_NOT_USE, &CLSID_AudioCompressorCategory,
                  {Pin(false, false, false, &kAudioType), Pin(true, false, false, &kAudioType)}));
  return result;
}

}  // namespace kestrom::dshow
