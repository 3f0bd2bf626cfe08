#include "platform/core/TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <cmath>

namespace kestrom::core {

namespace {

// Windows-1252 at 0x80..0x9F; the five unassigned bytes map to the control characters of the
// same value, as Windows itself decodes them. Every other byte is Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString DecodeCp1252(QByteArrayView bytes) {
  QString out;
  out.resize(bytes.size());
  QChar* dst = out.data();
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    dst[i] = (b >= 0x80 && b <= 0x9F) ? QChar(kCp1252High[b - 0x80]) : QChar(b);
  }
  return out;
}

bool IsBlank(QChar c) {
  // Ctrl-Z ends old DOS text files; it counts as a blank so such files still read.
  return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
         c == QLatin1Char('\n') || c == QChar(0x1A);
}

}  // namespace

WriteResult WriteFileAtomic(const QString& path, const QByteArray& bytes) {
  WriteResult result;
  if (path.isEmpty()) {
    result.error = QStringLiteral("No file name given");
    return result;
  }
  const QFileInfo info(path);
  if (info.isDir()) {
    result.error = QStringLiteral("Cannot write %1: it is a folder").arg(path);
    return result;
  }
  QSaveFile file(path);
  file.setDirectWriteFallback(false);  // never write in place: the old file must stay whole
  if (!file.open(QIODevice::WriteOnly)) {
    result.error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    return result;
  }
  if (file.write(bytes) != bytes.size()) {
    result.error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    file.cancelWriting();
    return result;
  }
  if (!file.commit()) {
    result.error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    return result;
  }
  result.ok = true;
  return result;
}

WriteResult WriteTextLines(const QString& path, const QStringList& lines) {
  QString text;
  for (const QString& line : lines) {
    text += line;
    text += QLatin1StringView("\r\n");
  }
  return WriteFileAtomic(path, EncodeText(text));
}

std::optional<QString> ReadTextFile(const QString& path) {
  if (QFileInfo(path).isDir()) return std::nullopt;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) return std::nullopt;
  return DecodeText(bytes);
}

std::optional<QStringList> ReadTextLines(const QString& path) {
  const std::optional<QString> text = ReadTextFile(path);
  if (!text) return std::nullopt;
  QStringList lines;
  const QString& t = *text;
  qsizetype start = 0;
  qsizetype i = 0;
  while (i < t.size()) {
    const QChar c = t[i];
    if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
      lines << t.mid(start, i - start);
      if (c == QLatin1Char('\r') && i + 1 < t.size() && t[i + 1] == QLatin1Char('\n')) ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < t.size()) lines << t.mid(start);
  return lines;
}

QString DecodeText(const QByteArray& bytes) {
  QByteArrayView view(bytes);
  // A BOM from a Windows editor is dropped before either decoding: an editor may put one in front
  // of text that is then saved in the 8-bit code page.
  if (view.startsWith("\xEF\xBB\xBF")) view = view.sliced(3);
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(view);
  if (!utf8.hasError()) return text;
  return DecodeCp1252(view);
}

QByteArray EncodeText(const QString& text) { return text.toUtf8(); }

NumberReader::NumberReader(QString text) : text_(std::move(text)) {}

QString NumberReader::NextToken() {
  while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  const qsizetype start = pos_;
  while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
  return text_.mid(start, pos_ - start);
}

std::optional<int64_t> NumberReader::NextInt() {
  if (failed_) return std::nullopt;
  const qsizetype before = pos_;
  const QString token = NextToken();
  bool ok = false;
  const qlonglong value = token.toLongLong(&ok, 10);
  if (token.isEmpty() || !ok) {
    failed_ = !token.isEmpty();
    pos_ = before;
    return std::nullopt;
  }
  return value;
}

std::optional<double> NumberReader::NextReal() {
  if (failed_) return std::nullopt;
  const qsizetype before = pos_;
  const QString token = NextToken();
  bool ok = false;
  const double value = token.toDouble(&ok);  // always the C locale's '.'
  if (token.isEmpty() || !ok || !std::isfinite(value)) {
    failed_ = !token.isEmpty();
    pos_ = before;
    return std::nullopt;
  }
  return value;
}

QString NumberReader::ReadLine() {
  const qsizetype start = pos_;
  while (pos_ < text_.size() && text_[pos_] != QLatin1Char('\r') && text_[pos_] != QLatin1Char('\n')) ++pos_;
  const QString line = text_.mid(start, pos_ - start);
  if (pos_ < text_.size()) {
    if (text_[pos_] == QLatin1Char('\r') && pos_ + 1 < text_.size() && text_[pos_ + 1] == QLatin1Char('\n')) ++pos_;
    ++pos_;
  }
  return line;
}

void NumberReader::SkipLine() { ReadLine(); }

bool NumberReader::AtEnd() const {
  for (qsizetype i = pos_; i < text_.size(); ++i) {
    if (!IsBlank(text_[i])) return false;
  }
  return true;
}

bool NumberReader::Failed() const { return failed_; }

}  // namespace kestrom::core
