#pragma once
// Digital video frames: the packs that describe a frame (DVINFO), the media types of interleaved
// DV and of DV video, and the sound of one frame taken out with FFmpeg's DV demultiplexer.

#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrom::dshow::sources {

/** @brief Size and rate of a DV stream. */
struct DvGeometry {
  LONG width = 720;
  LONG height = 576;
  REFERENCE_TIME frameInterval = 400000;  // 100 ns units
  ULONG frameSize = 144000;               // bytes of one frame
  bool pal = true;
};

/** @brief DV frames of 625/50 (PAL) and 525/60 (NTSC) systems. */
DvGeometry DvGeometryOfSystem(bool pal);

/** @brief Reads the packs of a frame; false when the bytes are no DV frame. */
bool ReadDvInfo(const uint8_t* frame, size_t size, DVINFO* info, DvGeometry* geometry);

/** @brief The sample rate an audio source pack announces; 0 when the pack is absent. */
int DvAudioRate(DWORD audioSourcePack);

/** @brief Interleaved DV (`iavs`, dvsd, FORMAT_DvInfo) with fixed-size samples of one frame. */
CMediaType MakeInterleavedDvType(const DVINFO& info, const DvGeometry& geometry);

/** @brief DV video (`vids`, dvsd, VideoInfo with biCompression dvsd). */
CMediaType MakeDvVideoType(const DvGeometry& geometry);

/** @brief Whether a type carries DV (interleaved or video, any of the DV subtypes). */
bool IsDvType(const AM_MEDIA_TYPE& type);

/** @brief The geometry of a DV type (from its bitmap header, or the DVINFO and sample size). */
DvGeometry DvGeometryOfType(const AM_MEDIA_TYPE& type);

/** @brief The sound of one DV frame: one block of interleaved 16-bit samples per channel pair. */
struct DvSound {
  int rate = 0;
  int channels = 0;
  std::vector<std::vector<uint8_t>> pairs;
};

/** @brief Takes the sound out of one whole DV frame; false when the frame carries none. */
bool ExtractDvSound(const uint8_t* frame, size_t size, DvSound* sound);

}  // namespace kestrom::dshow::sources
