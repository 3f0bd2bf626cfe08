// Every picture kind the graph offers is written into a sample followed (and preceded) by a
// guard area: the libraries' vector code must never write outside the picture's own bytes, which
// the sanitizers cannot see (the libraries are not instrumented).
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/StreamTypes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

namespace kestrom::dshow {
namespace {

constexpr size_t kGuard = 4096;
constexpr uint8_t kGuardByte = 0xA5;

struct Kind {
  const char* name;
  GUID subtype;
};

TEST(PictureConversion, NoKindWritesOutsideItsPicture) {
  const Kind kinds[] = {{"RGB24", MEDIASUBTYPE_RGB24}, {"RGB32", MEDIASUBTYPE_RGB32}, {"RGB565", MEDIASUBTYPE_RGB565},
                        {"RGB555", MEDIASUBTYPE_RGB555}, {"YUY2", MEDIASUBTYPE_YUY2}, {"YV12", MEDIASUBTYPE_YV12},
                        {"I420", MEDIASUBTYPE_I420}};
  const int widths[] = {1, 2, 3, 721, 1920};
  const int height = 17;  // odd, so the last chroma row is a half one
  for (const int width : widths) {
    // A decoded picture as the decoders hand it over: 4:2:0 in a frame the library allocated.
    AVFrame* source = av_frame_alloc();
    ASSERT_NE(source, nullptr);
    source->width = width;
    source->height = height;
    source->format = AV_PIX_FMT_YUV420P;
    ASSERT_EQ(av_frame_get_buffer(source, 0), 0);
    for (int p = 0; p < 3; ++p)
      for (int y = 0; y < (p ? (height + 1) / 2 : height); ++y)
        std::fill_n(source->data[p] + y * source->linesize[p], source->linesize[p], uint8_t(40 + 30 * p + y));
    media::PictureScaler scaler;
    for (const Kind& kind : kinds) {
      for (const bool bottomUp : {true, false}) {
        // Only RGB may be bottom-up; YUV layouts are always top-down, whatever the sign.
        const LONG h = bottomUp ? height : -height;
        const CMediaType type = sources::MakeUncompressedType(kind.subtype, width, h, 400000);
        const size_t size = sources::UncompressedSize(type);
        ASSERT_GT(size, 0u) << kind.name << " " << width;
        std::vector<uint8_t> buffer(kGuard + size + kGuard, kGuardByte);
        uint8_t* picture = buffer.data() + kGuard;
        std::fill_n(picture, size, uint8_t(0));
        ASSERT_TRUE(sources::ConvertPicture(source, type, picture, size, scaler)) << kind.name << " " << width;
        const auto untouched = [](const uint8_t* from, size_t n) {
          return std::all_of(from, from + n, [](uint8_t b) { return b == kGuardByte; });
        };
        EXPECT_TRUE(untouched(buffer.data(), kGuard)) << kind.name << " width " << width << (bottomUp ? " bottom-up" : "");
        EXPECT_TRUE(untouched(picture + size, kGuard)) << kind.name << " width " << width << (bottomUp ? " bottom-up" : "");
        // The picture itself was written: its first and last rows are not left as they were.
        EXPECT_TRUE(std::any_of(picture, picture + std::min<size_t>(size, 3), [](uint8_t b) { return b != 0; }))
            << kind.name << " width " << width;
      }
    }
    av_frame_free(&source);
  }
}

}  // namespace
}  // namespace kestrom::dshow
