#pragma once
// The decoder classes: name, class id, what they take (FOURCCs or wave format tags) and merit.

#include "platform/com/Unknown.h"
#include "platform/dshow/base/Types.h"

#include <vector>

namespace kestrom::dshow {

struct DecoderClass {
  const CLSID* clsid;
  const char16_t* name;
  GUID major;
  std::vector<uint32_t> tags;  // video: FOURCCs (any letter case); audio: wave format tags
  DWORD merit;
};

/** @brief Every decoder class, in a fixed order. */
const std::vector<DecoderClass>& DecoderClasses();

com::CUnknown* CreateDecoderOf(const DecoderClass& cls, com::IUnknown* outer, HRESULT* hr);
com::CUnknown* CreateColourConverter(com::IUnknown* outer, HRESULT* hr);
com::CUnknown* CreateAudioConverter(com::IUnknown* outer, HRESULT* hr);

}  // namespace kestrom::dshow
