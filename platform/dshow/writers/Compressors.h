#pragma once
// Encoders as compressor filters: a transform filter per codec, made by class id and listed in the
// video and audio compressor categories. Video takes uncompressed frames (RGB24, RGB32, YUY2,
// UYVY, I420, YV12) and gives the codec's FOURCC type; audio takes 16-bit PCM and gives the
// codec's WAVEFORMATEX with its extra bytes. Settings come through IAMVideoCompression (quality,
// key-frame rate) and IAMStreamConfig (the output format; its dwBitRate or nAvgBytesPerSec is the
// data rate), both on the filter.

#include "platform/dshow/base/TransformFilter.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <QString>
#include <vector>

namespace kestrom::dshow {

/** @brief A compressor as the device lists show it. */
struct CompressorInfo {
  CLSID clsid;
  QString name;
};

/** @brief The video compressors, in the order they are listed. */
std::vector<CompressorInfo> VideoCompressors();
/** @brief The audio compressors, in the order they are listed. */
std::vector<CompressorInfo> AudioCompressors();

/** @brief Makes a compressor of a class in the lists above (for class factories). */
com::CUnknown* CreateCompressor(REFCLSID clsid, IUnknown* outer, HRESULT* hr);

}  // namespace kestrom::dshow
