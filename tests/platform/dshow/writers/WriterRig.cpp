#include "tests/platform/dshow/writers/WriterRig.h"

#include "tools/FrameCode.h"

#include <QImage>
#include <cmath>
#include <cstring>

namespace kestrom::dshow::test {

using namespace com;

std::vector<uint8_t> CodedRgbFrame(int n, int frames, int width, int height) {
  QImage image(width, height, QImage::Format_RGB888);
  tools::PaintCodedFrame(image, n, frames);
  const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
  const int stride = RgbStride(width, 24);
  std::vector<uint8_t> bytes(size_t(stride) * height);
  for (int y = 0; y < height; ++y) std::memcpy(&bytes[size_t(height - 1 - y) * stride], bgr.constScanLine(y), size_t(width) * 3);
  return bytes;
}

CMediaType PcmType(int rate, int channels) {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Audio);
  mt.SetSubtype(MEDIASUBTYPE_PCM);
  mt.SetFormatType(FORMAT_WaveFormatEx);
  WAVEFORMATEX wf{};
  wf.wFormatTag = WAVE_FORMAT_PCM;
  wf.nChannels = WORD(channels);
  wf.nSamplesPerSec = DWORD(rate);
  wf.wBitsPerSample = 16;
  wf.nBlockAlign = WORD(2 * channels);
  wf.nAvgBytesPerSec = DWORD(rate * 2 * channels);
  mt.SetFormat(&wf, sizeof wf);
  mt.bFixedSizeSamples = TRUE;
  mt.lSampleSize = 1 << 16;  // the test source sizes its buffers from this
  return mt;
}

std::vector<uint8_t> ToneBytes(int64_t first, int count, int rate, int channels) {
  std::vector<uint8_t> bytes(size_t(count) * channels * 2);
  auto* s = reinterpret_cast<int16_t*>(bytes.data());
  for (int i = 0; i < count; ++i) {
    const auto v = int16_t(8000 * std::sin(2 * M_PI * 440.0 * double(first + i) / rate));
    for (int c = 0; c < channels; ++c) s[i * channels + c] = v;
  }
  return bytes;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction, int index) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  for (;;) {
    IPin* pin = nullptr;
    if (pins->Next(1, &pin, nullptr) != S_OK) return nullptr;
    ComPtr<IPin> held = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION dir;
    pin->QueryDirection(&dir);
    if (dir == direction && index-- == 0) return held;
  }
}

ComPtr<IPin> FreePin(IBaseFilter* filter, PIN_DIRECTION direction) {
  for (int i = 0;; ++i) {
    ComPtr<IPin> pin = PinOf(filter, direction, i);
    if (!pin) return nullptr;
    ComPtr<IPin> peer;
    if (pin->ConnectedTo(peer.Put()) == VFW_E_NOT_CONNECTED) return pin;
  }
}

void EndStream(IPin* output) {
  ComPtr<IPin> peer;
  if (SUCCEEDED(output->ConnectedTo(peer.Put()))) peer->EndOfStream();
}

}  // namespace kestrom::dshow::test
