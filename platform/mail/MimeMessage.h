#pragma once
// The message as it goes over the wire: header lines, a UTF-8 text part and base64 attachments
// read from disk piece by piece, so an attachment of any size costs a few kilobytes of memory.

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <vector>

namespace kestrom::mail {

struct MimeAttachment {
  QString path;  // on disk
  QString name;  // as the receiver sees it
};

struct MimeContent {
  QString from;
  QStringList to, cc;  // header recipients; Bcc never appears in a header
  QString subject;
  QString body;
  bool receiptRequested = false;
  std::vector<MimeAttachment> attachments;
  QDateTime date = QDateTime::currentDateTime();
};

/** @brief A header field value as RFC 2047 encoded words when it is not plain ASCII. */
QByteArray EncodeHeaderText(const QString& text);

/** @brief The filename parameter of a part: quoted when ASCII, else RFC 2231 (filename*=UTF-8''...). */
QByteArray FileNameParameter(const char* parameter, const QString& name);

/** @brief Lines of 76 base64 characters, each ended by CR LF. */
QByteArray Base64Lines(const QByteArray& bytes);

/** @brief Produces the message in pieces; attachments are opened as their turn comes. */
class MimeStream {
 public:
  explicit MimeStream(const MimeContent& content);
  /** @brief Copies up to size bytes of the message; 0 at its end, -1 when an attachment cannot be read. */
  qint64 Read(char* buffer, qint64 size);
  /** @brief Why Read failed. */
  QString Error() const { return error_; }
  /** @brief The whole message at once (small messages, tests). */
  static QByteArray Whole(const MimeContent& content);

 private:
  struct Piece {
    QByteArray bytes;
    QString file;  // when set, the file's base64 lines, then bytes
  };
  bool Refill();

  std::deque<Piece> pieces_;
  std::unique_ptr<QFile> file_;
  QByteArray pending_;
  qint64 offset_ = 0;
  QString error_;
};

}  // namespace kestrom::mail
