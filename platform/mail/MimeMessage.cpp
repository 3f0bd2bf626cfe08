#include "platform/mail/MimeMessage.h"

#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QSysInfo>
#include <cstdlib>
#include <cstring>

namespace kestrom::mail {

namespace {

constexpr qint64 kLineBytes = 57;            // one base64 line of 76 characters
constexpr qint64 kChunkBytes = kLineBytes * 1024;

bool IsPlainAscii(const QString& text) {
  for (QChar c : text)
    if (c.unicode() < 0x20 || c.unicode() > 0x7e) return false;
  return true;
}

QByteArray Crlf(const QString& text) {
  QString t = text;
  t.replace("\r\n", "\n").replace('\r', '\n');
  return t.toUtf8().replace("\n", "\r\n");
}

// Joins addresses into one header field, folded so that no line grows past 78 characters.
QByteArray AddressField(const char* name, const QStringList& addresses) {
  QByteArray field = name;
  field += ": ";
  int lineLength = field.size();
  for (int i = 0; i < addresses.size(); ++i) {
    const QByteArray address = addresses[i].toUtf8() + (i + 1 < addresses.size() ? "," : "");
    if (i > 0 && lineLength + 1 + address.size() > 78) {
      field += "\r\n ";
      lineLength = 1;
    } else if (i > 0) {
      field += ' ';
      ++lineLength;
    }
    field += address;
    lineLength += address.size();
  }
  return field + "\r\n";
}

QByteArray ContentTypeOf(const QString& name) {
  const QString ext = QFileInfo(name).suffix().toLower();
  if (ext == "avi") return "video/x-msvideo";
  if (ext == "txt") return "text/plain";
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "bmp") return "image/bmp";
  return "application/octet-stream";
}

QByteArray MessageId(const QString& from) {
  const QString domain = from.contains('@') ? from.section('@', -1) : QSysInfo::machineHostName();
  return "<" + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + "." +
         QByteArray::number(QRandomGenerator::global()->generate64(), 16) + "@" + domain.toUtf8() + ">";
}

// "Tue, 03 Mar 2026 14:05:09 +0100": English names and a numeric zone, whatever the locale.
QByteArray DateField(const QDateTime& date) {
  const int offset = date.offsetFromUtc() / 60;
  return QLocale::c().toString(date, "ddd, dd MMM yyyy hh:mm:ss ").toLatin1() + (offset < 0 ? "-" : "+") +
         QByteArray::number(std::abs(offset) / 60).rightJustified(2, '0') +
         QByteArray::number(std::abs(offset) % 60).rightJustified(2, '0');
}

}  // namespace

QByteArray EncodeHeaderText(const QString& text) {
  if (IsPlainAscii(text)) return text.toLatin1();
  // Encoded words of at most 75 characters, never splitting a character's UTF-8 bytes.
  QByteArray out;
  QByteArray word;
  auto flush = [&] {
    if (word.isEmpty()) return;
    if (!out.isEmpty()) out += "\r\n ";
    out += "=?UTF-8?B?" + word.toBase64() + "?=";
    word.clear();
  };
  for (int i = 0; i < text.size(); ++i) {
    QString one = text.mid(i, 1);
    if (text[i].isHighSurrogate() && i + 1 < text.size()) one = text.mid(i++, 2);
    const QByteArray bytes = one.toUtf8();
    if (word.size() + bytes.size() > 45) flush();
    word += bytes;
  }
  flush();
  return out;
}

QByteArray FileNameParameter(const char* parameter, const QString& name) {
  if (IsPlainAscii(name)) {
    QString quoted = name;
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return QByteArray(parameter) + "=\"" + quoted.toLatin1() + "\"";
  }
  return QByteArray(parameter) + "*=UTF-8''" + name.toUtf8().toPercentEncoding("!#$&+-.^_`|~");
}

QByteArray Base64Lines(const QByteArray& bytes) {
  QByteArray out;
  out.reserve((bytes.size() + kLineBytes - 1) / kLineBytes * 78);
  for (qint64 at = 0; at < bytes.size(); at += kLineBytes) out += bytes.mid(at, kLineBytes).toBase64() + "\r\n";
  return out;
}

MimeStream::MimeStream(const MimeContent& content) {
  QByteArray head;
  head += "From: " + content.from.toUtf8() + "\r\n";
  if (!content.to.isEmpty()) head += AddressField("To", content.to);
  if (!content.cc.isEmpty()) head += AddressField("Cc", content.cc);
  head += "Subject: " + EncodeHeaderText(content.subject) + "\r\n";
  head += "Date: " + DateField(content.date) + "\r\n";
  head += "Message-ID: " + MessageId(content.from) + "\r\n";
  if (content.receiptRequested) head += "Disposition-Notification-To: " + content.from.toUtf8() + "\r\n";
  head += "MIME-Version: 1.0\r\n";

  const QByteArray body = Crlf(content.body);
  bool plainBody = true;
  for (char c : body)
    if (static_cast<unsigned char>(c) >= 0x80) plainBody = false;
  for (const QByteArray& line : body.split('\n'))
    if (line.size() > 998) plainBody = false;
  const QByteArray textPart =
      plainBody ? "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + body
                : "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                      Base64Lines(body.endsWith("\r\n") ? body : body + "\r\n");

  if (content.attachments.empty()) {
    pieces_.push_back({head + textPart + (textPart.endsWith("\r\n") ? "" : "\r\n"), {}});
    return;
  }
  const QByteArray boundary =
      "=_kestrom_" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + "_";
  head += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  head += "This is a message in several parts.\r\n";
  head += "--" + boundary + "\r\n" + textPart + (textPart.endsWith("\r\n") ? "" : "\r\n");
  pieces_.push_back({head, {}});
  for (const MimeAttachment& a : content.attachments) {
    QByteArray partHead = "--" + boundary + "\r\n";
    partHead += "Content-Type: " + ContentTypeOf(a.name) + "; " + FileNameParameter("name", a.name) + "\r\n";
    partHead += "Content-Transfer-Encoding: base64\r\n";
    partHead += "Content-Disposition: attachment; " + FileNameParameter("filename", a.name) + "\r\n\r\n";
    pieces_.push_back({partHead, {}});
    pieces_.push_back({{}, a.path});
  }
  pieces_.push_back({"--" + boundary + "--\r\n", {}});
}

bool MimeStream::Refill() {
  pending_.clear();
  offset_ = 0;
  while (pending_.isEmpty() && !pieces_.empty()) {
    Piece& piece = pieces_.front();
    if (piece.file.isEmpty()) {
      pending_ = std::move(piece.bytes);
      pieces_.pop_front();
      continue;
    }
    if (!file_) {
      file_ = std::make_unique<QFile>(piece.file);
      if (!file_->open(QIODevice::ReadOnly)) {
        error_ = piece.file + ": " + file_->errorString();
        return false;
      }
    }
    const QByteArray chunk = file_->read(kChunkBytes);
    if (chunk.isEmpty()) {
      if (!file_->atEnd()) {
        error_ = piece.file + ": " + file_->errorString();
        return false;
      }
      file_.reset();
      pieces_.pop_front();
      continue;
    }
    pending_ = Base64Lines(chunk);
  }
  return true;
}

qint64 MimeStream::Read(char* buffer, qint64 size) {
  if (!error_.isEmpty()) return -1;
  qint64 copied = 0;
  while (copied < size) {
    if (offset_ >= pending_.size() && !Refill()) return -1;
    if (pending_.isEmpty()) break;
    const qint64 n = std::min(size - copied, pending_.size() - offset_);
    std::memcpy(buffer + copied, pending_.constData() + offset_, static_cast<size_t>(n));
    offset_ += n;
    copied += n;
  }
  return copied;
}

QByteArray MimeStream::Whole(const MimeContent& content) {
  MimeStream stream(content);
  QByteArray out;
  char buffer[16384];
  for (qint64 n; (n = stream.Read(buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  return out;
}

}  // namespace kestrom::mail
