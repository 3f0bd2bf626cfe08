#pragma once
// Between FFmpeg's streams and the graph's media types with the Windows format blocks: a stored
// video stream becomes a VideoInfo type whose subtype and biCompression are the stored FOURCC
// (codec extra data after the bitmap header), an audio stream a WaveFormatEx type with its
// format tag and extra bytes, so that a copy without compression keeps every stored byte.

#include "platform/dshow/base/MediaType.h"

#include <QString>

#include "platform/media/PictureScaler.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace kestrom::dshow::sources {

/**
 * @brief The FOURCC of a coded video type: its bitmap header's compression, else its subtype's,
 * with the MPEG subtypes that are no FOURCC (MPEG-1 payload, MPEG-2 video) given theirs.
 */
uint32_t VideoTagOfType(const AM_MEDIA_TYPE& type);

/** @brief The stored type of a stream; majortype GUID_NULL when the stream is neither video nor audio. */
CMediaType MediaTypeOfStream(const AVStream* stream);

/**
 * @brief Decoder parameters of a stored type (codec, size, extra data, audio layout); false when
 * FFmpeg knows no decoder for it.
 */
bool DecoderParametersOf(const AM_MEDIA_TYPE& type, AVCodecParameters* par);

/** @brief The pixel layout of an uncompressed video type (RGB24, RGB32, YUY2, I420, ...). */
AVPixelFormat PixelFormatOfType(const AM_MEDIA_TYPE& type);

/** @brief An uncompressed VideoInfo type; RGB with a positive height is bottom-up. */
CMediaType MakeUncompressedType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME avgTimePerFrame);

/** @brief The bytes of one uncompressed picture of a type (0 when not uncompressed). */
size_t UncompressedSize(const AM_MEDIA_TYPE& type);

/**
 * @brief Copies a picture into an uncompressed sample of the given type (swscale), turning RGB
 * pictures bottom-up when the type says so. The scaler is the caller's cache; nothing is written
 * outside the picture's own bytes (see PictureScaler).
 */
bool ConvertPicture(const AVFrame* frame, const AM_MEDIA_TYPE& type, BYTE* target, size_t targetSize,
                    media::PictureScaler& scaler);


}  // namespace kestrom::dshow::sources
