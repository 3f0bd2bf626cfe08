#pragma once
// Plain text files as the programs keep them: lines end in CR LF when written, CR LF or LF are
// accepted when read; content is UTF-8, and a file that is not valid UTF-8 is read as
// Windows-1252 so that files made on Windows still load.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace kestrom::core {

/** @brief Outcome of a write: ok, or the reason it failed (for a message or a log line). */
struct WriteResult {
  bool ok = false;
  QString error;
  explicit operator bool() const { return ok; }
};

/**
 * @brief Writes bytes to a temporary file beside the target and renames it over the target, so a
 * crash or a full disk never leaves half a file; on failure the old file is untouched.
 */
WriteResult WriteFileAtomic(const QString& path, const QByteArray& bytes);

/** @brief Writes the lines, each ended by CR LF, atomically (see WriteFileAtomic). */
WriteResult WriteTextLines(const QString& path, const QStringList& lines);

/** @brief Reads a whole text file; nothing when it cannot be read. */
std::optional<QString> ReadTextFile(const QString& path);

/** @brief Reads a text file split into lines (CR LF, LF or a lone CR end a line). */
std::optional<QStringList> ReadTextLines(const QString& path);

/** @brief Decodes file bytes: UTF-8 when valid, else Windows-1252. */
QString DecodeText(const QByteArray& bytes);

/** @brief Encodes text for a file (UTF-8; identical to Windows-1252 for ASCII). */
QByteArray EncodeText(const QString& text);

/**
 * @brief Reads numbers in order from text, separated by any run of blanks or line ends, as the
 * companion and settings files are read. A record's trailing text is skipped with SkipLine.
 */
class NumberReader {
 public:
  explicit NumberReader(QString text);
  /** @brief The next integer; nothing at the end or at a malformed number (reading stops there). */
  std::optional<int64_t> NextInt();
  /** @brief The next real; nothing at the end or at a malformed number. */
  std::optional<double> NextReal();
  /** @brief The rest of the current line as it stands (without its line end), then moves past it. */
  QString ReadLine();
  /** @brief Skips the rest of the current line and its line end. */
  void SkipLine();
  /** @brief True when only blanks and line ends are left. */
  bool AtEnd() const;
  /** @brief True once a malformed number stopped the reading. */
  bool Failed() const;

 private:
  QString NextToken();
  QString text_;
  qsizetype pos_ = 0;
  bool failed_ = false;
};

}  // namespace kestrom::core
