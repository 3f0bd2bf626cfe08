// The video encoder reading the sample itself: the same coded frames as from a copy, and the
// sample back with its allocator once the frame is coded.
#include "platform/com/ComPtr.h"
#include "platform/dshow/base/Allocator.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/EncoderCore.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <vector>

namespace kestrom::dshow {
namespace {

using namespace com;

constexpr int kWidth = 64, kHeight = 48;

CMediaType I420Type() {
  CMediaType type = MakeRgbVideoType(24, kWidth, kHeight, 400000);
  type.SetSubtype(MEDIASUBTYPE_I420);
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
  info->bmiHeader.biBitCount = 12;
  info->bmiHeader.biCompression = Fourcc('I', '4', '2', '0');
  info->bmiHeader.biSizeImage = kWidth * kHeight * 3 / 2;
  type.lSampleSize = info->bmiHeader.biSizeImage;
  return type;
}

// Coded frames of 6 pictures, each handed in a sample of a two-buffer allocator when share is set.
std::vector<QByteArray> Code(bool share) {
  ComPtr<IMemAllocator> allocator = ComPtr<IMemAllocator>::Attach(CMemAllocator::Create());
  ALLOCATOR_PROPERTIES request{2, kWidth * kHeight * 3 / 2, 1, 0}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(allocator->Commit(), S_OK);
  VideoEncoder encoder;
  VideoEncoderSettings settings;
  settings.keyFrameRate = 3;
  EXPECT_EQ(encoder.Open(I420Type(), settings), S_OK);
  std::vector<QByteArray> coded;
  const PacketSink sink = [&](const AVPacket& p) {
    coded.emplace_back(reinterpret_cast<const char*>(p.data), p.size);
    return S_OK;
  };
  for (int n = 0; n < 6; ++n) {
    IMediaSample* raw = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&raw, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    if (!raw) break;
    ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Attach(raw);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    for (int i = 0; i < request.cbBuffer; ++i) data[i] = BYTE((i * 7 + n * 13) & 0xFF);
    EXPECT_EQ(encoder.Encode(data, request.cbBuffer, n, sink, false, share ? sample.Get() : nullptr), S_OK);
    // Coded and let go: both buffers are free again once this one is released.
    sample.Reset();
    IMediaSample* a = nullptr;
    IMediaSample* b = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&a, nullptr, nullptr, AM_GBF_NOWAIT), S_OK) << "frame " << n;
    EXPECT_EQ(allocator->GetBuffer(&b, nullptr, nullptr, AM_GBF_NOWAIT), S_OK) << "frame " << n;
    if (a) a->Release();
    if (b) b->Release();
  }
  encoder.Flush(sink);
  encoder.Close();
  allocator->Decommit();
  return coded;
}

TEST(VideoEncoderInput, ASharedSampleCodesAsACopyDoesAndGoesBackToItsAllocator) {
  const std::vector<QByteArray> copied = Code(false);
  ASSERT_EQ(copied.size(), 6u);
  EXPECT_TRUE(Code(true) == copied);
}

}  // namespace
}  // namespace kestrom::dshow
