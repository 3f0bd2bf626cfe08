#include "platform/dshow/writers/AviRepair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kestrom::dshow::test {
namespace {

void PutLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(v >> (8 * i));
}
uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(bytes[at + size_t(i)]) << (8 * i);
  return v;
}
void Append(std::vector<uint8_t>& bytes, const char* fourcc, uint32_t size) {
  bytes.insert(bytes.end(), fourcc, fourcc + 4);
  const size_t at = bytes.size();
  bytes.resize(at + 4);
  PutLe32(bytes, at, size);
}

// An AVI as a writer leaves it when the disk fills: sizes not filled in, no index, the movi list
// ending with the last whole video chunk (no sound).
std::vector<uint8_t> CutAvi(int frames, uint32_t frameBytes, size_t* aviHeader) {
  std::vector<uint8_t> b;
  Append(b, "RIFF", 0xFFFFFFFFu);
  b.insert(b.end(), {'A', 'V', 'I', ' '});
  Append(b, "LIST", 4 + 8 + 56 + 8 + 4 + 8 + 56);
  b.insert(b.end(), {'h', 'd', 'r', 'l'});
  Append(b, "avih", 56);
  *aviHeader = b.size();
  b.resize(b.size() + 56, 0);
  Append(b, "LIST", 4 + 8 + 56);
  b.insert(b.end(), {'s', 't', 'r', 'l'});
  Append(b, "strh", 56);
  const size_t strh = b.size();
  b.resize(b.size() + 56, 0);
  std::memcpy(&b[strh], "vids", 4);
  Append(b, "LIST", 0xFFFFFFFFu);
  b.insert(b.end(), {'m', 'o', 'v', 'i'});
  for (int i = 0; i < frames; ++i) {
    Append(b, "00dc", frameBytes);
    b.resize(b.size() + frameBytes, uint8_t(i));
  }
  return b;
}

// The file in memory, on a disk with no room past a given size.
class FullDiskFile final : public AviRepairFile {
 public:
  FullDiskFile(std::vector<uint8_t> bytes, int64_t room) : bytes_(std::move(bytes)), room_(room) {}
  int64_t Read(int64_t position, uint8_t* data, int64_t length) override {
    if (position < 0 || position > int64_t(bytes_.size())) return -1;
    const int64_t n = std::min<int64_t>(length, int64_t(bytes_.size()) - position);
    std::memcpy(data, bytes_.data() + position, size_t(n));
    return n;
  }
  bool Write(int64_t position, const uint8_t* data, int64_t length) override {
    // A repair that keeps trying the same write never ends: let it through, and say so.
    if (position + length > room_ && ++refused_ < 1000) return false;
    if (position + length > int64_t(bytes_.size())) bytes_.resize(size_t(position + length));
    std::memcpy(bytes_.data() + position, data, size_t(length));
    return true;
  }
  int64_t Size() override { return int64_t(bytes_.size()); }
  bool SetSize(int64_t size) override {
    if (size > room_) return false;
    bytes_.resize(size_t(size));
    return true;
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  int Refused() const { return refused_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t room_;
  int refused_ = 0;
};

// The disk filled exactly at the end of a whole frame larger than the index: the repair gives up
// frames from the end until the index fits, rather than trying the same write forever.
TEST(AviRepair, ADiskFullAtAWholeFrameGivesUpFramesUntilTheIndexFits) {
  constexpr int kFrames = 20;
  constexpr uint32_t kFrameBytes = 100000;  // more than the index and the room asked besides
  size_t avih = 0;
  std::vector<uint8_t> cut = CutAvi(kFrames, kFrameBytes, &avih);
  const int64_t room = int64_t(cut.size());
  FullDiskFile file(std::move(cut), room);
  const AviRepairResult result = RepairCutAvi(file, {});
  EXPECT_LT(file.Refused(), 1000) << "the repair kept trying the same write";
  ASSERT_TRUE(result.ok);
  EXPECT_GT(result.videoFrames, 0);
  EXPECT_LT(result.videoFrames, kFrames);
  const std::vector<uint8_t>& bytes = file.Bytes();
  EXPECT_LE(int64_t(bytes.size()), room);
  EXPECT_EQ(Le32(bytes, 4), uint32_t(bytes.size() - 8));
  EXPECT_EQ(Le32(bytes, avih + 16), uint32_t(result.videoFrames));
  const std::string text(bytes.begin(), bytes.end());
  const size_t index = text.rfind("idx1");
  ASSERT_NE(index, std::string::npos);
  EXPECT_EQ(Le32(bytes, index + 4), uint32_t(16 * result.videoFrames));
  EXPECT_EQ(index + 8 + 16 * size_t(result.videoFrames), bytes.size());
}

}  // namespace
}  // namespace kestrom::dshow::test
