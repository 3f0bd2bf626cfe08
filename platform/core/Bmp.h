#pragma once
// BMP picture files as the programs exchange them: pictures written as 24-bit bottom-up files,
// video frames written in their own layout (8 bits with their colours, 16, 24 or 32 bits), read
// from 24- or 32-bit files stored either way up. Anything else, or a damaged file, is refused
// with a reason instead of being guessed at.

#include "platform/core/FrameBits.h"
#include "platform/core/TextFile.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace kestrom::core {

/** @brief The bytes of a 24-bit bottom-up BMP file of the picture (14 + 40 byte headers, rows
 *  padded to 4 bytes); empty for a null picture. */
QByteArray EncodeBmp(const QImage& image);

/** @brief The 54 header bytes of a 24-bit bottom-up BMP file of width x height (rows padded to
 *  4 bytes follow them, the bottom row first); empty when such a file would be too large. */
QByteArray Bmp24Header(int width, int height, int dotsPerMeterX = 0, int dotsPerMeterY = 0);

/** @brief Writes the picture as a 24-bit BMP file, atomically (see WriteFileAtomic). */
WriteResult WriteBmpFile(const QString& path, const QImage& image);

/** @brief The bytes of a bottom-up BMP file of the frame in its own layout: 8 bits with its
 *  colour table, 16 bits as 5-5-5 (or 5-6-5 with its masks), 24 or 32 bits; empty for an
 *  invalid frame. */
QByteArray EncodeBmp(const FrameBits& frame);

/** @brief Writes the frame as a BMP file in its own layout, atomically (see WriteFileAtomic). */
WriteResult WriteBmpFile(const QString& path, const FrameBits& frame);

/**
 * @brief Decodes the bytes of a BMP file (24 or 32 bits per pixel, uncompressed or with the
 * plain 32-bit masks, bottom-up or top-down) into an RGB32 picture. A null picture when the
 * bytes are not such a file; *error then says why.
 */
QImage DecodeBmp(const QByteArray& bytes, QString* error = nullptr);

/** @brief Reads a BMP file (see DecodeBmp); a null picture and the reason when it cannot. */
QImage ReadBmpFile(const QString& path, QString* error = nullptr);

}  // namespace kestrom::core
