#pragma once
// Result codes of every interface call, with the values Windows gives them, so that codes
// written to logs or compared by callers mean the same.

#include <cstdint>

namespace kestrom::com {

using HRESULT = int32_t;

constexpr HRESULT MakeHResult(uint32_t value) { return static_cast<HRESULT>(value); }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT SELFREG_E_CLASS = MakeHResult(0x80040201);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9);

// Filter graph codes.
inline constexpr HRESULT VFW_S_NO_MORE_ITEMS = MakeHResult(0x00040103);
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = MakeHResult(0x0004022D);
inline constexpr HRESULT VFW_S_NO_STOP_TIME = MakeHResult(0x00040270);
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeHResult(0x80040200);
inline constexpr HRESULT VFW_E_NEED_OWNER = MakeHResult(0x80040202);
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MakeHResult(0x80040203);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHResult(0x80040204);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeHResult(0x80040207);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeHResult(0x80040208);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHResult(0x80040209);
inline constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeHResult(0x8004020A);
inline constexpr HRESULT VFW_E_BUFFER_NOTSET = MakeHResult(0x8004020C);
inline constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeHResult(0x8004020D);
inline constexpr HRESULT VFW_E_BADALIGN = MakeHResult(0x8004020E);
inline constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeHResult(0x8004020F);
inline constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MakeHResult(0x80040210);
inline constexpr HRESULT VFW_E_NOT_COMMITTED = MakeHResult(0x80040211);
inline constexpr HRESULT VFW_E_SIZENOTSET = MakeHResult(0x80040212);
inline constexpr HRESULT VFW_E_NOT_FOUND = MakeHResult(0x80040216);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHResult(0x80040217);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = MakeHResult(0x80040218);
inline constexpr HRESULT VFW_E_NOT_STOPPED = MakeHResult(0x80040224);
inline constexpr HRESULT VFW_E_WRONG_STATE = MakeHResult(0x80040227);
inline constexpr HRESULT VFW_E_DUPLICATE_NAME = MakeHResult(0x8004022D);
inline constexpr HRESULT VFW_E_TIMEOUT = MakeHResult(0x8004022E);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHResult(0x8004022A);
inline constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeHResult(0x80040249);
inline constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeHResult(0x80040251);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeHResult(0x8004025F);

}  // namespace kestrom::com
