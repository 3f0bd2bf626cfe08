#include "analysis/exportavi/ExportProtocol.h"

#include "platform/core/Bmp.h"
#include "platform/core/Format.h"
#include "platform/core/Paths.h"
#include "platform/core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace kestrom::exportavi {

QString ExportFrameFile(const QString& tempFolder, int64_t frame) {
  return core::JoinPath(tempFolder, QStringLiteral("\\Sample%1.bmp").arg(frame + 100));
}

core::WriteResult WriteExportFrame(const QString& path, const QImage& picture) {
  return WriteExportFrame(path, picture, picture.rect());
}

core::WriteResult WriteExportFrame(const QString& path, const QImage& canvas, const QRect& area) {
  core::WriteResult result;
  const QByteArray header = core::Bmp24Header(area.width(), area.height());
  if (canvas.isNull() || header.isEmpty() || !canvas.rect().contains(area)) {
    result.error = QStringLiteral("no picture");
    return result;
  }
  // One pass from the picture's rows into the file's, bottom row first, in a buffer kept from
  // one frame to the next; then one write.
  const QImage source = canvas.format() == QImage::Format_RGB32 || canvas.format() == QImage::Format_ARGB32
                            ? canvas
                            : canvas.copy(area).convertToFormat(QImage::Format_RGB32);
  const QPoint origin = source.size() == area.size() ? QPoint(0, 0) : area.topLeft();
  const int width = area.width(), height = area.height();
  const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
  thread_local std::vector<uchar> bytes;
  bytes.resize(size_t(header.size()) + stride * size_t(height));
  std::memcpy(bytes.data(), header.constData(), size_t(header.size()));
  uchar* rows = bytes.data() + header.size();
  for (int y = 0; y < height; ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(origin.y() + y)) + origin.x();
    uchar* out = rows + size_t(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      const QRgb pixel = in[x];
      out[3 * x] = uchar(qBlue(pixel));
      out[3 * x + 1] = uchar(qGreen(pixel));
      out[3 * x + 2] = uchar(qRed(pixel));
    }
    std::memset(out + size_t(width) * 3, 0, stride - size_t(width) * 3);
  }
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    result.error = QString::fromLocal8Bit(std::strerror(errno));
    return result;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      result.error = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC));
      ::close(fd);
      return result;
    }
    done += size_t(n);
  }
  if (::close(fd) != 0) {
    result.error = QString::fromLocal8Bit(std::strerror(errno));
    return result;
  }
  result.ok = true;
  return result;
}

QStringList ExportCommandLine(double framesPerSecond, const QString& file, int64_t frames, int width, int height) {
  return {core::FormatFloat("00000.00", framesPerSecond), file, QString::number(frames), QString::number(width),
          QString::number(height)};
}

std::optional<ExportArguments> ParseExportArguments(const QStringList& arguments, QString* error) {
  const auto fail = [error](const QString& reason) {
    if (error) *error = reason;
    return std::nullopt;
  };
  if (arguments.size() != 5)
    return fail(QString("Expected 5 arguments (rate, file, count, width, height), got %1.").arg(arguments.size()));
  ExportArguments a;
  // Plain decimal numbers only: no signs, exponents, blanks or words.
  static const QRegularExpression real(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
  static const QRegularExpression whole(QStringLiteral("^[0-9]+$"));
  if (!real.match(arguments[0]).hasMatch()) return fail("The frame rate \"" + arguments[0] + "\" is not a number.");
  a.rate = arguments[0].toDouble();
  if (!(a.rate > 0) || a.rate > 1000) return fail("The frame rate \"" + arguments[0] + "\" is out of range.");
  a.file = arguments[1];
  if (a.file.isEmpty()) return fail("No video file was given.");
  bool ok = true;
  const auto number = [&](const QString& text, const char* what, int& into) {
    if (!ok) return;
    bool converted = false;
    into = text.toInt(&converted);
    if (!whole.match(text).hasMatch() || !converted) {
      ok = false;
      if (error) *error = QString("The %1 \"%2\" is not a whole number.").arg(what, text);
    }
  };
  number(arguments[2], "frame count", a.count);
  number(arguments[3], "frame width", a.width);
  number(arguments[4], "frame height", a.height);
  if (!ok) return std::nullopt;
  if (a.count < 1) return fail(QString("The frame count %1 is below 1: there is nothing to join.").arg(a.count));
  // The encoder takes even sizes up to its limit.
  if (a.width < 2 || a.height < 2 || a.width > 8192 || a.height > 8192)
    return fail(QString("The frame size %1 x %2 is out of range.").arg(a.width).arg(a.height));
  return a;
}

QStringList EmptyFolder(const QString& folder, const std::function<bool(const QString&)>& remove) {
  const QDir dir(folder);
  const QDir::Filters files = QDir::Files | QDir::Hidden | QDir::System;
  for (const QFileInfo& file : dir.entryInfoList(files)) {
    const QString path = file.absoluteFilePath();
    if (remove) remove(path);
    else QFile::remove(path);
  }
  // One pass only: a file that cannot go is named instead of being tried again for ever.
  return dir.entryList(files, QDir::Name);
}

bool FolderTakesFiles(const QString& folder, QString* reason) {
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".probe-XXXXXX")));
  if (probe.open()) return true;
  if (reason) *reason = probe.errorString();
  return false;
}

QByteArray VideoCreatedRecord(const QString& path) { return core::EncodeText(path) + '\0'; }

void AnnounceExportEnd(const QString& createdVideo, winmsg::HWND from) {
  if (!createdVideo.isEmpty()) {
    if (const winmsg::HWND first = winmsg::FindWindow(kAnalysisWindowClass, QString()))
      winmsg::SendCopyData(first, from, 0, VideoCreatedRecord(createdVideo));
  }
  for (const winmsg::WindowInfo& window : winmsg::EnumWindows())
    if (window.className.compare(kAnalysisWindowClass, Qt::CaseInsensitive) == 0)
      winmsg::PostMessage(window.handle, WM_EXPORTFINISHED, 0, 0);
}

QString VideoCreatedText(const winmsg::CopyData& data) {
  if (!data.lpData || data.cbData == 0) return {};
  const char* bytes = static_cast<const char*>(data.lpData);
  const void* zero = std::memchr(bytes, 0, data.cbData);
  const qsizetype length = zero ? static_cast<const char*>(zero) - bytes : static_cast<qsizetype>(data.cbData);
  return core::DecodeText(QByteArray(bytes, length)).left(kVideoCreatedTextMax);
}

}  // namespace kestrom::exportavi
