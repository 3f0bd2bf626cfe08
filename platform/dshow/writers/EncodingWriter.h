#pragma once
// A writer that encodes its inputs itself and writes the container straight into its file: the
// base of the ASF writer and the MPEG writer. Each input pin is one stream with its encoder
// settings; the file is written from the moment the writer leaves the stopped state until every
// input has ended or the writer stops. A file of the same name is replaced. Write errors post
// EC_ERRORABORT; the end of all streams posts EC_COMPLETE.

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/writers/EncoderCore.h"
#include "platform/dshow/writers/Muxer.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <QString>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrom::dshow {

struct WriterStreamSpec {
  QString pinName;
  bool video = true;
  VideoEncoderSettings videoSettings;
  AudioEncoderSettings audioSettings;
};

class CEncodingWriter : public CBaseFilter, public IFileSinkFilter2, public IAMFilterMiscFlags {
 public:
  CEncodingWriter(const char* objectName, IUnknown* outer, REFCLSID clsid, const char* format);
  ~CEncodingWriter() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

  HRESULT Stop() override;
  HRESULT Pause() override;

  // IFileSinkFilter2
  HRESULT SetFileName(LPCWSTR fileName, const AM_MEDIA_TYPE* type) override;
  HRESULT GetCurFile(LPWSTR* fileName, AM_MEDIA_TYPE* type) override;
  HRESULT SetMode(DWORD flags) override;
  HRESULT GetMode(DWORD* flags) override;
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  class InputPin;
  HRESULT ReceiveFrom(InputPin* pin, IMediaSample* sample);
  HRESULT EndOfStreamFrom(InputPin* pin);
  bool Accepts(const WriterStreamSpec& streamSpec, const CMediaType& type) const;

 protected:
  /** @brief Replaces the input pins (stopped, none connected). */
  HRESULT SetStreams(const std::vector<WriterStreamSpec>& streams);
  // Where the container goes, called under the writer's lock: the default is the file named
  // through IFileSinkFilter, replaced. A writer with other destinations overrides these.
  virtual HRESULT OpenOutput(const QString& fileName, ByteSink** output);
  /** @brief The container's header is written (the muxer is about to take packets). */
  virtual void HeaderWritten(Muxer& muxer) { (void)muxer; }
  virtual HRESULT CloseOutput();
  std::recursive_mutex filterLock_;

 private:
  struct Stream;
  HRESULT StartFileLocked();
  HRESULT FinishFileLocked();
  void Fail(HRESULT hr);
  void Notify(LONG code, LONG_PTR param1, LONG_PTR param2);

  const char* format_;
  std::vector<std::unique_ptr<InputPin>> inputs_;
  std::mutex muxLock_;
  std::vector<std::unique_ptr<Stream>> streams_;
  Muxer muxer_;
  PositionalFile file_;
  QString fileName_;
  DWORD mode_ = AM_FILE_OVERWRITE;
  bool fileOpen_ = false, errorPosted_ = false;
};

/** @brief The MPEG writer: MPEG-2 video and MPEG audio layer II in an MPEG program stream. */
class CMpegWriter final : public CEncodingWriter {
 public:
  explicit CMpegWriter(IUnknown* outer);
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);
};

}  // namespace kestrom::dshow
