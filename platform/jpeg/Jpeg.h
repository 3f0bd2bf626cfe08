#pragma once
// JPEG pictures through the libjpeg 6b interface (library version 62): compression of QImages to
// bytes or files and decompression back, over our own memory and file managers. A library error
// comes back as a JpegError whose message is "JPEG error #<the library's message code>".

#include <QByteArray>
#include <QImage>
#include <QString>
#include <stdexcept>

namespace kestrom::jpeg {

/** @brief A failed compression or decompression. */
class JpegError : public std::runtime_error {
 public:
  /** @brief A library error: the message is "JPEG error #code"; detail is the library's text. */
  JpegError(int code, const QString& detail);
  /** @brief An error of our own (a file that cannot be opened or written); code is -1. */
  explicit JpegError(const QString& message);

  /** @brief The library's message code, or -1 when the library did not raise it. */
  int Code() const { return code_; }
  /** @brief The library's own explanation of the code, or the message of our own error. */
  const QString& Detail() const { return detail_; }

 private:
  int code_;
  QString detail_;
};

/** @brief Best quality uses the exact integer DCT; best speed the fast one (and, when reading,
 *  plain upsampling). */
enum class JpegPerformance { jpBestQuality, jpBestSpeed };

struct CompressOptions {
  int quality = 75;  // 1..100, values outside clamped; 75 is the library's default
  bool progressive = false;
  JpegPerformance performance = JpegPerformance::jpBestQuality;
  // The picture's rows are stored bottom row first (a view over a device-independent bitmap):
  // they are read from the last to the first, so the JPEG shows the picture the right way up.
  bool bottomUp = false;
};

struct DecompressOptions {
  JpegPerformance performance = JpegPerformance::jpBestQuality;
};

/** @brief The picture as JPEG bytes (colour, 8 bits per channel; alpha is dropped). 24-bit RGB or
 *  BGR and 32-bit RGB pictures are read in place; other formats are converted first. */
QByteArray Compress(const QImage& picture, const CompressOptions& options = {});

/** @brief Writes the picture as a JPEG file; the file is replaced only when the whole picture
 *  was written. */
void CompressToFile(const QImage& picture, const QString& path, const CompressOptions& options = {});

/** @brief The picture held by JPEG bytes, as Format_RGB32. Truncated data is an error. */
QImage Decompress(const QByteArray& data, const DecompressOptions& options = {});

/** @brief The picture held by a JPEG file, as Format_RGB32. */
QImage DecompressFile(const QString& path, const DecompressOptions& options = {});

}  // namespace kestrom::jpeg
