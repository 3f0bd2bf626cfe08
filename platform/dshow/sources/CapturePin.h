#pragma once
// The output pins of capture devices: a video pin with stream configuration (capability records
// of sizes and frame intervals), pin category and dropped-frame counts, and an audio pin with
// PCM format configuration. A device's own pin derives from one of them and fills the samples.

#include "platform/dshow/base/PropertyPages.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/PushPin.h"

#include <mutex>
#include <vector>

namespace kestrom::dshow {

/** @brief One video format a device offers: an uncompressed or compressed subtype at one size. */
struct VideoCapability {
  GUID subtype;
  DWORD compression = 0;  // biCompression: BI_RGB or a FOURCC
  WORD bitCount = 0;
  LONG width = 0;
  LONG height = 0;
  /** @brief Frame intervals the device offers at this size (100 ns units), ascending. */
  std::vector<REFERENCE_TIME> intervals;
};

/** @brief A VideoInfo type of a capability at one frame interval. */
CMediaType MakeCapabilityType(const VideoCapability& cap, REFERENCE_TIME interval);
/** @brief The frame interval of a rate given as frames per second. */
REFERENCE_TIME IntervalOfRate(double framesPerSecond);

/** @brief Pin category property shared by device pins (AMPROPSETID_Pin, read only). */
HRESULT GetPinCategoryProperty(const GUID& category, REFGUID set, DWORD id, void* data, DWORD dataSize,
                               DWORD* returned);

class CVideoCapturePin : public CPushPin, public IAMStreamConfig, public IKsPropertySet, public IAMDroppedFrames {
 public:
  CVideoCapturePin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name,
                   const GUID& category);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  /** @brief The formats on offer; the first capability at its slowest rate is the default. */
  void SetCapabilities(std::vector<VideoCapability> caps, size_t defaultIndex, REFERENCE_TIME defaultInterval);

  // CBasePin
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;

  // IAMStreamConfig
  HRESULT SetFormat(AM_MEDIA_TYPE* type) override;
  HRESULT GetFormat(AM_MEDIA_TYPE** type) override;
  HRESULT GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

  // IKsPropertySet
  HRESULT Set(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data, DWORD dataSize) override;
  HRESULT Get(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data, DWORD dataSize,
              DWORD* returned) override;
  HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  // IAMDroppedFrames
  HRESULT GetNumDropped(LONG* dropped) override;
  HRESULT GetNumNotDropped(LONG* notDropped) override;
  HRESULT GetDroppedInfo(LONG size, LONG* array, LONG* copied) override;
  HRESULT GetAverageFrameSize(LONG* averageSize) override;

  /** @brief The format the pin streams (the connection's, else the one set, else the default). */
  CMediaType StreamFormat() const;

 protected:
  /** @brief Index of the capability a type asks for and its interval; -1 when none fits. */
  int FindCapability(const AM_MEDIA_TYPE& type, REFERENCE_TIME* interval) const;
  /** @brief The device takes up a format before streaming (V4L2 sets it on the driver). */
  virtual HRESULT ApplyFormat(const CMediaType&) { return com::S_OK; }
  LONG FrameBufferSize() override;

  void ResetCounts();
  void CountDelivered(LONG bytes);
  void CountDropped(LONG frame);

  mutable std::mutex formatLock_;
  std::vector<VideoCapability> caps_;
  CMediaType format_;  // set by SetFormat or the default
  bool formatSet_ = false;
  GUID category_;
  CSpecifyPropertyPages pages_{GetOwner(), {{&IID_IAMStreamConfig, &CLSID_StreamFormatPage}}};

 private:
  std::mutex countLock_;
  LONG delivered_ = 0;
  LONG dropped_ = 0;
  int64_t deliveredBytes_ = 0;
  std::vector<LONG> droppedFrames_;
};

/** @brief One PCM format range of an audio device. */
struct AudioCapability {
  int minChannels = 1, maxChannels = 2;
  int minBits = 16, maxBits = 16;
  int minRate = 8000, maxRate = 48000;
  std::vector<int> rates;  // the rates offered, ascending; empty: any in the range
};

/** @brief A PCM type. */
CMediaType MakePcmType(int rate, int channels, int bits);

class CAudioCapturePin : public CPushPin, public IAMStreamConfig, public IKsPropertySet {
 public:
  CAudioCapturePin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  void SetCapability(const AudioCapability& cap, int rate, int channels, int bits);

  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;

  HRESULT SetFormat(AM_MEDIA_TYPE* type) override;
  HRESULT GetFormat(AM_MEDIA_TYPE** type) override;
  HRESULT GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

  HRESULT Set(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data, DWORD dataSize) override;
  HRESULT Get(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data, DWORD dataSize,
              DWORD* returned) override;
  HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  CMediaType StreamFormat() const;

 protected:
  bool Accepts(const AM_MEDIA_TYPE& type) const;
  /** @brief Samples of a tenth of a second. */
  LONG FrameBufferSize() override;

  mutable std::mutex formatLock_;
  AudioCapability cap_;
  CMediaType format_;
  CSpecifyPropertyPages pages_{GetOwner(), {{&IID_IAMStreamConfig, &CLSID_StreamFormatPage}}};
};

}  // namespace kestrom::dshow
