#pragma once
// Pictures whose pixels carry their own frame number, so a reader that lands on the wrong frame
// is caught by value. The number sits in a band of large black and white blocks along the top of
// the picture (guard blocks on both ends), sized in proportion to the picture so that it survives
// lossy coding, scaling and the splitting of a frame into fields.

#include <QImage>

namespace kestrom::tools {

/** @brief Largest number the band can carry. */
constexpr int kMaxFrameCode = (1 << 12) - 1;

/** @brief Paints the whole picture: background, a moving figure, and the band carrying value. */
void PaintCodedFrame(QImage& image, int value, int frameCount);

/**
 * @brief Paints an interlaced picture: the top field (even rows) carries topValue, the bottom
 * field (odd rows) bottomValue, each band readable from its own field alone.
 */
void PaintFieldCodedFrame(QImage& image, int topValue, int bottomValue);

/** @brief Paints only the band (rows [0, height / 8)). */
void PaintCodeBand(QImage& image, int value);

/** @brief Reads the band back; -1 when the picture carries no readable band. */
int ReadFrameCode(const QImage& image);

/** @brief The picture's rows of one field: 0 = top (even rows), 1 = bottom (odd rows). */
QImage FieldOf(const QImage& image, int parity);

}  // namespace kestrom::tools
