#pragma once
// Closing an AVI whose writing stopped part way (the disk filled up): the file is cut after its
// last whole chunk, an index of the chunks kept is appended (dropping chunks from the end until
// the index fits), and the header's sizes and counts are made true, so that every reader opens it
// as the recording up to that point.

#include <cstdint>
#include <vector>

namespace kestrom::dshow {

/** @brief The file being mended: reads, writes and size, each false on failure. */
class AviRepairFile {
 public:
  virtual ~AviRepairFile() = default;
  /** @brief Bytes read at a position (fewer at the end of the file); -1 on failure. */
  virtual int64_t Read(int64_t position, uint8_t* data, int64_t length) = 0;
  virtual bool Write(int64_t position, const uint8_t* data, int64_t length) = 0;
  virtual int64_t Size() = 0;
  virtual bool SetSize(int64_t size) = 0;
};

struct AviRepairResult {
  bool ok = false;
  int64_t videoFrames = 0;  // chunks of the first video stream kept, empty ones included
  int64_t size = 0;         // the file's size afterwards
};

/**
 * @brief Mends a cut-off AVI of one RIFF list. keyFrames[s] holds, in order, whether each
 * non-empty packet written for stream s was a key frame (missing entries count as key frames).
 * A file whose first RIFF list was already closed (it grew past 1 GB) keeps that list only.
 */
AviRepairResult RepairCutAvi(AviRepairFile& file, const std::vector<std::vector<bool>>& keyFrames);

}  // namespace kestrom::dshow
