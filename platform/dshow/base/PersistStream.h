#pragma once
// Streams and the persist-stream interface through which a filter saves its private settings
// (a capture device's format and controls, an encoder's quality) and loads them back, and an
// in-memory stream to save into.

#include "platform/dshow/base/Interfaces.h"

namespace kestrom::dshow {

inline constexpr IID IID_ISequentialStream = com::MakeGuid("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
inline constexpr IID IID_IStream = com::MakeGuid("{0000000C-0000-0000-C000-000000000046}");
inline constexpr IID IID_IPersistStream = com::MakeGuid("{00000109-0000-0000-C000-000000000046}");

using ULONGLONG = uint64_t;

inline constexpr DWORD STREAM_SEEK_SET = 0;
inline constexpr DWORD STREAM_SEEK_CUR = 1;
inline constexpr DWORD STREAM_SEEK_END = 2;

/** @brief A read past the end of a stream. */
inline constexpr HRESULT STG_E_READFAULT = com::MakeHResult(0x8003001E);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = com::MakeHResult(0x80030001);
/** @brief A stream that took fewer bytes than were written. */
inline constexpr HRESULT STG_E_MEDIUMFULL = com::MakeHResult(0x80030070);

struct ISequentialStream : IUnknown {
  /** @brief S_FALSE when fewer than count bytes were left. */
  virtual HRESULT Read(void* data, ULONG count, ULONG* read) = 0;
  virtual HRESULT Write(const void* data, ULONG count, ULONG* written) = 0;

 protected:
  ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
  virtual HRESULT Seek(LONGLONG move, DWORD origin, ULONGLONG* newPosition) = 0;
  virtual HRESULT SetSize(ULONGLONG size) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT Clone(IStream** clone) = 0;

 protected:
  ~IStream() = default;
};

struct IPersistStream : IPersist {
  /** @brief S_OK when the object changed since it was last saved, S_FALSE otherwise. */
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
  /** @brief The most bytes Save will write. */
  virtual HRESULT GetSizeMax(ULONGLONG* size) = 0;

 protected:
  ~IPersistStream() = default;
};

/** @brief A new, empty stream in memory (read, write, seek, grow). */
HRESULT CreateMemoryStream(IStream** stream);

}  // namespace kestrom::dshow
