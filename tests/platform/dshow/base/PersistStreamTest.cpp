#include "platform/com/ComPtr.h"
#include "platform/dshow/base/PersistStream.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrom::dshow {
namespace {

using com::ComPtr;

TEST(MemoryStream, ReadsWritesSeeksAndClones) {
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(stream.Put()), com::S_OK);
  ULONG n = 0;
  ASSERT_EQ(stream->Write("abcdef", 6, &n), com::S_OK);
  EXPECT_EQ(n, 6u);
  ULONGLONG at = 0;
  ASSERT_EQ(stream->Seek(-4, STREAM_SEEK_END, &at), com::S_OK);
  EXPECT_EQ(at, 2u);
  char buffer[8] = {};
  EXPECT_EQ(stream->Read(buffer, 8, &n), com::S_FALSE);  // only four bytes were left
  EXPECT_EQ(std::string(buffer, n), "cdef");
  EXPECT_EQ(stream->Seek(-1, STREAM_SEEK_SET, &at), STG_E_INVALIDFUNCTION);
  ComPtr<IStream> clone;
  ASSERT_EQ(stream->Seek(1, STREAM_SEEK_SET, nullptr), com::S_OK);
  ASSERT_EQ(stream->Clone(clone.Put()), com::S_OK);
  stream->Write("Z", 1, nullptr);  // the clone shares the bytes, not the position
  EXPECT_EQ(clone->Read(buffer, 2, &n), com::S_OK);
  EXPECT_EQ(std::string(buffer, 2), "Zc");
}

}  // namespace
}  // namespace kestrom::dshow
