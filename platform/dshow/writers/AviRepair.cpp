#include "platform/dshow/writers/AviRepair.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kestrom::dshow {

namespace {

constexpr uint32_t kUnset = 0xFFFFFFFFu;  // a size the writer had not filled in yet
constexpr uint32_t kKeyFrame = 0x10;      // AVIIF_KEYFRAME
constexpr uint32_t kHasIndex = 0x10;      // AVIF_HASINDEX

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
}
bool Is(const uint8_t* p, const char* fourcc) { return std::memcmp(p, fourcc, 4) == 0; }

struct Chunk {
  int stream = -1;
  int64_t position = 0;
  uint32_t size = 0;
  uint8_t id[4]{};
};

struct StreamHeader {
  int64_t strh = -1;  // position of the strh data
  bool video = false;
  uint32_t sampleSize = 0;
};

struct Header {
  int64_t avih = -1;  // position of the avih data
  int64_t dmlh = -1;  // position of the dmlh data
  std::vector<StreamHeader> streams;
};

bool ReadExact(AviRepairFile& file, int64_t position, uint8_t* data, int64_t length) {
  return file.Read(position, data, length) == length;
}

bool WriteLe32(AviRepairFile& file, int64_t position, uint32_t value) {
  uint8_t b[4];
  PutLe32(b, value);
  return file.Write(position, b, 4);
}

// The headers inside LIST hdrl: avih, each strl's strh, and odml's dmlh.
bool ReadHeaderList(AviRepairFile& file, int64_t begin, int64_t end, Header& header) {
  int64_t at = begin;
  while (at + 8 <= end) {
    uint8_t h[12];
    if (!ReadExact(file, at, h, 8)) return false;
    const uint32_t size = Le32(h + 4);
    const int64_t next = at + 8 + size + (size & 1);
    if (Is(h, "LIST")) {
      if (!ReadExact(file, at + 8, h + 8, 4)) return false;
      if (Is(h + 8, "strl") || Is(h + 8, "odml")) {
        if (!ReadHeaderList(file, at + 12, std::min(next, end), header)) return false;
      }
    } else if (Is(h, "avih")) {
      header.avih = at + 8;
    } else if (Is(h, "dmlh")) {
      header.dmlh = at + 8;
    } else if (Is(h, "strh") && size >= 48) {
      uint8_t d[48];
      if (!ReadExact(file, at + 8, d, 48)) return false;
      StreamHeader s;
      s.strh = at + 8;
      s.video = Is(d, "vids");
      s.sampleSize = Le32(d + 44);
      header.streams.push_back(s);
    }
    at = next;
  }
  return header.avih >= 0;
}

int StreamOf(const uint8_t* id) {
  if (id[0] < '0' || id[0] > '9' || id[1] < '0' || id[1] > '9') return -1;
  return (id[0] - '0') * 10 + (id[1] - '0');
}

// The whole chunks of a movi list, up to its end or to the first chunk the file does not hold whole.
std::vector<Chunk> ScanMovi(AviRepairFile& file, int64_t begin, int64_t end) {
  std::vector<Chunk> chunks;
  int64_t at = begin;
  while (at + 8 <= end) {
    Chunk c;
    uint8_t h[8];
    if (!ReadExact(file, at, h, 8)) break;
    c.size = Le32(h + 4);
    c.position = at;
    std::memcpy(c.id, h, 4);
    const int64_t next = at + 8 + c.size + (c.size & 1);
    if (at + 8 + int64_t(c.size) > end) break;
    c.stream = StreamOf(c.id);
    if (c.stream >= 0) chunks.push_back(c);  // index and JUNK chunks are not frames
    at = next;
  }
  return chunks;
}

int64_t ChunkEnd(const Chunk& c) { return c.position + 8 + c.size + (c.size & 1); }

// Frame and sample counts of the header made true for the chunks kept.
bool PatchCounts(AviRepairFile& file, const Header& header, const std::vector<Chunk>& chunks, int64_t& videoFrames) {
  std::vector<int64_t> count(header.streams.size(), 0), bytes(header.streams.size(), 0);
  for (const Chunk& c : chunks) {
    if (c.stream >= int(header.streams.size())) continue;
    ++count[size_t(c.stream)];
    bytes[size_t(c.stream)] += c.size;
  }
  videoFrames = 0;
  bool ok = true, firstVideo = true;
  for (size_t s = 0; s < header.streams.size(); ++s) {
    const StreamHeader& h = header.streams[s];
    const int64_t length = !h.video && h.sampleSize > 0 ? bytes[s] / h.sampleSize : count[s];
    ok = WriteLe32(file, h.strh + 32, uint32_t(length)) && ok;
    if (h.video && firstVideo) {
      firstVideo = false;
      videoFrames = count[s];
    }
  }
  ok = WriteLe32(file, header.avih + 16, uint32_t(videoFrames)) && ok;
  uint8_t flags[4];
  if (ReadExact(file, header.avih + 12, flags, 4)) ok = WriteLe32(file, header.avih + 12, Le32(flags) | kHasIndex) && ok;
  if (header.dmlh >= 0) ok = WriteLe32(file, header.dmlh, uint32_t(videoFrames)) && ok;
  return ok;
}

}  // namespace

AviRepairResult RepairCutAvi(AviRepairFile& file, const std::vector<std::vector<bool>>& keyFrames) {
  AviRepairResult result;
  const int64_t fileSize = file.Size();
  uint8_t riff[12];
  if (fileSize < 12 || !ReadExact(file, 0, riff, 12) || !Is(riff, "RIFF") || !Is(riff + 8, "AVI ")) return result;
  const uint32_t riffSize = Le32(riff + 4);
  const bool firstListClosed = riffSize != kUnset && riffSize != 0 && 8 + int64_t(riffSize) <= fileSize;
  const int64_t riffEnd = firstListClosed ? 8 + int64_t(riffSize) : fileSize;

  // The header list and the movi list of the first RIFF list.
  Header header;
  int64_t movi = -1, moviEnd = riffEnd;
  for (int64_t at = 12; at + 12 <= riffEnd;) {
    uint8_t h[12];
    if (!ReadExact(file, at, h, 12)) return result;
    const uint32_t size = Le32(h + 4);
    if (Is(h, "LIST") && Is(h + 8, "movi")) {
      movi = at;
      if (size != kUnset && size != 0 && at + 8 + int64_t(size) <= riffEnd) moviEnd = at + 8 + int64_t(size);
      break;
    }
    const int64_t next = at + 8 + int64_t(size) + (size & 1);
    if (Is(h, "LIST") && Is(h + 8, "hdrl") && !ReadHeaderList(file, at + 12, std::min(next, riffEnd), header)) return result;
    if (size == kUnset || next <= at) return result;
    at = next;
  }
  if (movi < 0 || header.avih < 0) return result;

  std::vector<Chunk> chunks = ScanMovi(file, movi + 12, moviEnd);
  if (firstListClosed) {
    // The first list has its index already: what followed it is given up.
    if (!file.SetSize(riffEnd) || !PatchCounts(file, header, chunks, result.videoFrames)) return result;
    result.ok = true;
    result.size = riffEnd;
    return result;
  }

  // Key-frame flags for each chunk: the n-th non-empty chunk of a stream is its n-th packet.
  std::vector<size_t> seen(std::max<size_t>(keyFrames.size(), 100), 0);
  std::vector<uint32_t> flags(chunks.size(), 0);
  for (size_t i = 0; i < chunks.size(); ++i) {
    const Chunk& c = chunks[i];
    if (c.size == 0) continue;
    const size_t s = size_t(c.stream), n = seen[s]++;
    const bool key = s >= keyFrames.size() || n >= keyFrames[s].size() || keyFrames[s][n];
    flags[i] = key ? kKeyFrame : 0;
  }

  // Append the index after the last whole chunk; when the disk has no room for it, give up chunks
  // from the end until it fits.
  const int64_t moviData = movi + 8;  // index offsets count from the list's "movi"
  size_t kept = chunks.size();
  for (;;) {
    const int64_t cut = kept ? ChunkEnd(chunks[kept - 1]) : movi + 12;
    if (!file.SetSize(cut)) return result;
    std::vector<uint8_t> index(8 + 16 * kept);
    std::memcpy(index.data(), "idx1", 4);
    PutLe32(index.data() + 4, uint32_t(16 * kept));
    for (size_t i = 0; i < kept; ++i) {
      uint8_t* e = index.data() + 8 + 16 * i;
      std::memcpy(e, chunks[i].id, 4);
      PutLe32(e + 4, flags[i]);
      PutLe32(e + 8, uint32_t(chunks[i].position - moviData));
      PutLe32(e + 12, chunks[i].size);
    }
    if (file.Write(cut, index.data(), int64_t(index.size()))) {
      chunks.resize(kept);
      const int64_t end = cut + int64_t(index.size());
      if (!WriteLe32(file, 4, uint32_t(end - 8)) || !WriteLe32(file, movi + 4, uint32_t(cut - moviData)) ||
          !PatchCounts(file, header, chunks, result.videoFrames))
        return result;
      result.ok = true;
      result.size = end;
      return result;
    }
    if (kept == 0) return result;
    // Free at least the index's size and a few blocks besides, a whole video frame at a time: at
    // least one chunk goes each round, however large it is.
    const int64_t wanted = int64_t(index.size()) + 65536;
    const int64_t from = cut;
    int64_t freed = 0;
    while (kept > 0 && freed < wanted) freed = from - chunks[--kept].position;
    while (kept > 0 && chunks[kept - 1].stream >= 0 && size_t(chunks[kept - 1].stream) < header.streams.size() &&
           !header.streams[size_t(chunks[kept - 1].stream)].video)
      --kept;  // end on a frame, not on sound after it
  }
}

}  // namespace kestrom::dshow
