#include "platform/jpeg/Jpeg.h"

#include <QBuffer>
#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>

// The library reports errors by calling error_exit, which must not return. Ours long-jumps back
// to the frame that called the library (which holds only plain data past its setjmp), and that
// frame's caller throws. No C++ exception ever passes through the library's C frames.

namespace kestrom::jpeg {

JpegError::JpegError(int code, const QString& detail)
    : std::runtime_error("JPEG error #" + std::to_string(code)), code_(code), detail_(detail) {}

JpegError::JpegError(const QString& message)
    : std::runtime_error(message.toStdString()), code_(-1), detail_(message) {}

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->text);
  std::longjmp(err->jump, 1);
}

// Warnings (slightly damaged data the library can still decode) are not shown on stderr.
void OutputMessage(j_common_ptr) {}

void InstallErrorManager(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.output_message = OutputMessage;
  err.text[0] = '\0';
}

// ---- source: any QIODevice (a file, or a QBuffer over bytes) ---------------------------------

constexpr std::size_t kBufferSize = 64 * 1024;

struct DeviceSource {
  jpeg_source_mgr pub;
  QIODevice* device;
  bool headerRead;  // before it, running out of data is an error at once
  bool eofHit;      // the data ran out and an end marker was supplied
  JOCTET buffer[kBufferSize];
};

void SourceInit(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<DeviceSource*>(cinfo->src);
  const qint64 n = src->device->read(reinterpret_cast<char*>(src->buffer), kBufferSize);
  if (n > 0) {
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = static_cast<std::size_t>(n);
    return TRUE;
  }
  if (n == 0 && src->headerRead) {
    // Supply the end marker, as the library's own sources do, and judge after decoding whether
    // anything was lost: a file that lacks only its end marker still holds the whole picture.
    src->eofHit = true;
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = 2;
    return TRUE;
  }
  ERREXIT(cinfo, n < 0 ? JERR_FILE_READ : JERR_INPUT_EOF);
  return FALSE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<DeviceSource*>(cinfo->src);
  if (count <= 0) return;
  while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    SourceFill(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
}

void SourceTerm(j_decompress_ptr) {}

void InstallSource(DeviceSource& src, QIODevice* device) {
  src.pub.init_source = SourceInit;
  src.pub.fill_input_buffer = SourceFill;
  src.pub.skip_input_data = SourceSkip;
  src.pub.resync_to_restart = jpeg_resync_to_restart;
  src.pub.term_source = SourceTerm;
  src.pub.next_input_byte = nullptr;
  src.pub.bytes_in_buffer = 0;
  src.device = device;
  src.headerRead = false;
  src.eofHit = false;
}

// ---- destination: any QIODevice ---------------------------------------------------------------

struct DeviceDestination {
  jpeg_destination_mgr pub;
  QIODevice* device;
  JOCTET buffer[kBufferSize];
};

void DestinationInit(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<DeviceDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kBufferSize;
}

boolean DestinationEmpty(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<DeviceDestination*>(cinfo->dest);
  // The whole buffer is due here, whatever free_in_buffer says.
  if (dest->device->write(reinterpret_cast<const char*>(dest->buffer), kBufferSize) != qint64(kBufferSize)) {
    ERREXIT(cinfo, JERR_FILE_WRITE);
  }
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kBufferSize;
  return TRUE;
}

void DestinationTerm(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<DeviceDestination*>(cinfo->dest);
  const auto count = static_cast<qint64>(kBufferSize - dest->pub.free_in_buffer);
  if (count > 0 && dest->device->write(reinterpret_cast<const char*>(dest->buffer), count) != count) {
    ERREXIT(cinfo, JERR_FILE_WRITE);
  }
}

void InstallDestination(DeviceDestination& dest, QIODevice* device) {
  dest.pub.init_destination = DestinationInit;
  dest.pub.empty_output_buffer = DestinationEmpty;
  dest.pub.term_destination = DestinationTerm;
  dest.device = device;
}

// ---- compression ------------------------------------------------------------------------------

struct CompressState {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  DeviceDestination dest;
  const QImage* picture;  // a format InputSpace() answers
  J_COLOR_SPACE space;
  int components;
  CompressOptions options;
};

// Only plain data lives in this frame past setjmp.
bool RunCompress(CompressState& s) {
  if (setjmp(s.err.jump)) return false;
  jpeg_create_compress(&s.cinfo);
  s.cinfo.dest = &s.dest.pub;
  s.cinfo.image_width = static_cast<JDIMENSION>(s.picture->width());
  s.cinfo.image_height = static_cast<JDIMENSION>(s.picture->height());
  s.cinfo.input_components = s.components;
  s.cinfo.in_color_space = s.space;
  jpeg_set_defaults(&s.cinfo);
  jpeg_set_quality(&s.cinfo, std::clamp(s.options.quality, 1, 100), TRUE);
  s.cinfo.dct_method = s.options.performance == JpegPerformance::jpBestSpeed ? JDCT_IFAST : JDCT_ISLOW;
  if (s.options.progressive) jpeg_simple_progression(&s.cinfo);
  jpeg_start_compress(&s.cinfo, TRUE);
  const int last = s.picture->height() - 1;
  while (s.cinfo.next_scanline < s.cinfo.image_height) {
    const int y = static_cast<int>(s.cinfo.next_scanline);
    JSAMPROW row = const_cast<JSAMPROW>(s.picture->constScanLine(s.options.bottomUp ? last - y : y));
    jpeg_write_scanlines(&s.cinfo, &row, 1);
  }
  jpeg_finish_compress(&s.cinfo);
  return true;
}

// The library's input colour space for pictures whose rows it can read as they are; JCS_UNKNOWN
// for formats that need converting first.
J_COLOR_SPACE InputSpace(QImage::Format format, int* components) {
  *components = 3;
  switch (format) {
    case QImage::Format_RGB888: return JCS_RGB;
    case QImage::Format_BGR888: return JCS_EXT_BGR;
    case QImage::Format_RGB32:
      // 0xffRRGGBB words: blue, green, red, 0xff in memory on a little-endian machine.
      *components = 4;
      return Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    default: return JCS_UNKNOWN;
  }
}

void CompressTo(const QImage& picture, QIODevice* device, const CompressOptions& options) {
  if (picture.isNull()) throw JpegError(QStringLiteral("There is no picture to save as JPEG"));
  auto s = std::make_unique<CompressState>();
  QImage converted;
  s->picture = &picture;
  s->space = InputSpace(picture.format(), &s->components);
  if (s->space == JCS_UNKNOWN) {
    converted = picture.convertToFormat(QImage::Format_RGB888);
    s->picture = &converted;
    s->space = JCS_RGB;
    s->components = 3;
  }
  InstallErrorManager(s->err);
  s->cinfo.err = &s->err.pub;
  InstallDestination(s->dest, device);
  s->options = options;
  const bool ok = RunCompress(*s);
  const int code = s->err.pub.msg_code;
  const QString detail = QString::fromLocal8Bit(s->err.text);
  jpeg_destroy_compress(&s->cinfo);
  if (!ok) throw JpegError(code, detail);
}

// ---- decompression ----------------------------------------------------------------------------

constexpr uint64_t kMaxPixels = 120'000'000;

struct DecompressState {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  DeviceSource src;
  QImage image;  // assigned, never created, past setjmp
  DecompressOptions options;
  bool tooLarge;
};

void StoreRow(const jpeg_decompress_struct& cinfo, const JSAMPLE* in, QRgb* out) {
  const JDIMENSION width = cinfo.output_width;
  switch (cinfo.out_color_space) {
    case JCS_GRAYSCALE:
      for (JDIMENSION x = 0; x < width; ++x) out[x] = qRgb(in[x], in[x], in[x]);
      break;
    case JCS_CMYK:
      // Four-channel pictures come from print software, which stores the channels inverted.
      for (JDIMENSION x = 0; x < width; ++x) {
        const JSAMPLE* p = in + 4 * x;
        int c = p[0], m = p[1], y = p[2], k = p[3];
        if (!cinfo.saw_Adobe_marker) { c = 255 - c; m = 255 - m; y = 255 - y; k = 255 - k; }
        out[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
      }
      break;
    default:
      for (JDIMENSION x = 0; x < width; ++x) out[x] = qRgb(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
      break;
  }
}

bool RunDecompress(DecompressState& s) {
  if (setjmp(s.err.jump)) return false;
  jpeg_create_decompress(&s.cinfo);
  s.cinfo.src = &s.src.pub;
  jpeg_read_header(&s.cinfo, TRUE);
  s.src.headerRead = true;
  switch (s.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE: s.cinfo.out_color_space = JCS_GRAYSCALE; break;
    case JCS_CMYK:
    case JCS_YCCK: s.cinfo.out_color_space = JCS_CMYK; break;
    default: s.cinfo.out_color_space = JCS_RGB; break;
  }
  if (s.options.performance == JpegPerformance::jpBestSpeed) {
    s.cinfo.dct_method = JDCT_IFAST;
    s.cinfo.do_fancy_upsampling = FALSE;
  }
  jpeg_start_decompress(&s.cinfo);
  // A damaged or hostile header may claim any size up to 65500 x 65500; a frame or a sheet is
  // far below this.
  if (static_cast<uint64_t>(s.cinfo.output_width) * s.cinfo.output_height > kMaxPixels) {
    s.tooLarge = true;
    return false;
  }
  s.image = QImage(static_cast<int>(s.cinfo.output_width), static_cast<int>(s.cinfo.output_height),
                   QImage::Format_RGB32);
  if (s.image.isNull()) {
    s.tooLarge = true;
    return false;
  }
  const JDIMENSION stride = s.cinfo.output_width * static_cast<JDIMENSION>(s.cinfo.output_components);
  JSAMPARRAY buffer = (*s.cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&s.cinfo), JPOOL_IMAGE, stride, 1);
  while (s.cinfo.output_scanline < s.cinfo.output_height) {
    const int y = static_cast<int>(s.cinfo.output_scanline);
    jpeg_read_scanlines(&s.cinfo, buffer, 1);
    StoreRow(s.cinfo, buffer[0], reinterpret_cast<QRgb*>(s.image.scanLine(y)));
  }
  jpeg_finish_decompress(&s.cinfo);
  return true;
}

QImage DecompressFrom(QIODevice* device, const DecompressOptions& options) {
  auto s = std::make_unique<DecompressState>();
  InstallErrorManager(s->err);
  s->cinfo.err = &s->err.pub;
  InstallSource(s->src, device);
  s->options = options;
  s->tooLarge = false;
  const bool ok = RunDecompress(*s);
  int code = s->err.pub.msg_code;
  QString detail = QString::fromLocal8Bit(s->err.text);
  const JDIMENSION width = s->cinfo.output_width, height = s->cinfo.output_height;
  // Data that ran out mid-picture leaves the library warning of a premature end (and a
  // progressive picture short of its later scans); either way the picture is cut short, and a
  // cut picture is an error, not a picture with a grey lower part.
  const bool truncated =
      ok && s->src.eofHit && (s->err.pub.num_warnings > 0 || s->cinfo.progressive_mode);
  if (truncated) {
    code = JERR_INPUT_EOF;
    detail = QString::fromLatin1(s->err.pub.jpeg_message_table[JERR_INPUT_EOF]);
  }
  jpeg_destroy_decompress(&s->cinfo);
  if (s->tooLarge) {
    throw JpegError(QStringLiteral("The JPEG picture is too large to load (%1 x %2)").arg(width).arg(height));
  }
  if (!ok || truncated) throw JpegError(code, detail);
  return std::move(s->image);
}

}  // namespace

QByteArray Compress(const QImage& picture, const CompressOptions& options) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  CompressTo(picture, &buffer, options);
  buffer.close();
  return bytes;
}

void CompressToFile(const QImage& picture, const QString& path, const CompressOptions& options) {
  // Written beside the target and renamed over it at the end, so a failure leaves the old file.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    throw JpegError(QStringLiteral("Cannot create file %1: %2").arg(path, file.errorString()));
  }
  CompressTo(picture, &file, options);
  if (!file.commit()) {
    throw JpegError(QStringLiteral("Cannot write file %1: %2").arg(path, file.errorString()));
  }
}

QImage Decompress(const QByteArray& data, const DecompressOptions& options) {
  QBuffer buffer;
  buffer.setData(data);
  buffer.open(QIODevice::ReadOnly);
  return DecompressFrom(&buffer, options);
}

QImage DecompressFile(const QString& path, const DecompressOptions& options) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw JpegError(QStringLiteral("Cannot open file %1: %2").arg(path, file.errorString()));
  }
  return DecompressFrom(&file, options);
}

}  // namespace kestrom::jpeg
