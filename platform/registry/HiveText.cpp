#include "platform/registry/HiveText.h"

#include <QStringDecoder>
#include <algorithm>

namespace kestrom::registry {

namespace {

constexpr uint32_t kString = 1;
constexpr uint32_t kBinary = 3;
constexpr uint32_t kDword = 4;

// Windows-1252 for the bytes 0x80..0x9F, where it differs from Latin-1 (0 = undefined there).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// A line is read as UTF-8 when it is valid UTF-8, else as Windows-1252, so hand-made files from
// Windows still load. Each line on its own, so one damaged line does not spoil the rest.
QString DecodeLine(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(bytes);
  if (!utf8.hasError()) return text;
  text.clear();
  text.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    char16_t u = b;
    if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0) u = kCp1252High[b - 0x80];
    text.append(QChar(u));
  }
  return text;
}

bool ValidUtf8(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(bytes);
  return !utf8.hasError() && text.toUtf8() == bytes;
}

int CompareNames(const QString& a, const QString& b) {
  return QString::compare(a, b, Qt::CaseInsensitive);
}

// Reads "..." starting at pos (on the opening quote); only \\ and \" are escapes, as in the
// export syntax, and any other backslash stands for itself (hand-written paths).
bool ReadQuoted(const QString& line, qsizetype& pos, QString* out) {
  out->clear();
  ++pos;
  while (pos < line.size()) {
    const QChar c = line[pos];
    if (c == u'"') {
      ++pos;
      return true;
    }
    if (c == u'\\' && pos + 1 < line.size() && (line[pos + 1] == u'\\' || line[pos + 1] == u'"')) {
      out->append(line[pos + 1]);
      pos += 2;
      continue;
    }
    out->append(c);
    ++pos;
  }
  return false;
}

QString Quote(const QString& text) {
  QString out;
  out.reserve(text.size() + 2);
  out.append(u'"');
  for (QChar c : text) {
    if (c == u'\\' || c == u'"') out.append(u'\\');
    out.append(c);
  }
  out.append(u'"');
  return out;
}

void SkipBlanks(const QString& line, qsizetype& pos) {
  while (pos < line.size() && (line[pos] == u' ' || line[pos] == u'\t')) ++pos;
}

bool ParseHexList(QString text, QByteArray* out) {
  text.remove(u' ');
  text.remove(u'\t');
  out->clear();
  if (text.isEmpty()) return true;
  const QStringList tokens = text.split(u',');
  for (qsizetype i = 0; i < tokens.size(); ++i) {
    const QString& token = tokens[i];
    if (token.isEmpty() && i == tokens.size() - 1) break;  // a trailing comma
    if (token.isEmpty() || token.size() > 2) return false;
    bool ok = false;
    const uint v = token.toUInt(&ok, 16);
    if (!ok) return false;
    out->append(static_cast<char>(v));
  }
  return true;
}

// A string value goes between quotes only when it comes back byte for byte.
bool QuotableString(const QByteArray& data) {
  if (data.isEmpty() || data.back() != '\0') return false;
  const QByteArray text = data.left(data.size() - 1);
  if (text.contains('\0')) return false;
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return ValidUtf8(text);
}

void AppendHex(QByteArray& out, QByteArray line, const QByteArray& data) {
  static const char digits[] = "0123456789abcdef";
  for (qsizetype i = 0; i < data.size(); ++i) {
    QByteArray token(2, '0');
    const auto b = static_cast<unsigned char>(data[i]);
    token[0] = digits[b >> 4];
    token[1] = digits[b & 15];
    if (i + 1 < data.size()) token.append(',');
    // Wrapped as the export syntax does: lines of at most 80 columns, "\" at the end of each.
    if (line.size() + token.size() > 77 && line.size() > 2) {
      out += line + "\\\r\n";
      line = "  ";
    }
    line += token;
  }
  out += line + "\r\n";
}

void FormatKey(QByteArray& out, const KeyNode& key, const QString& path, bool isRoot) {
  if (!isRoot || !key.values.empty()) {
    out += "\r\n[" + path.toUtf8() + "]\r\n";
    for (const ValueEntry& v : key.values) {
      QByteArray line = v.name.isEmpty() ? QByteArray("@=") : (Quote(v.name).toUtf8() + '=');
      if (v.type == kString && QuotableString(v.data)) {
        out += line + Quote(QString::fromUtf8(v.data.left(v.data.size() - 1))).toUtf8() + "\r\n";
      } else if (v.type == kDword && v.data.size() == 4) {
        const auto* p = reinterpret_cast<const unsigned char*>(v.data.constData());
        const uint32_t n = p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
        out += line + "dword:" + QByteArray::number(n, 16).rightJustified(8, '0') + "\r\n";
      } else if (v.type == kBinary) {
        AppendHex(out, line + "hex:", v.data);
      } else {
        AppendHex(out, line + "hex(" + QByteArray::number(v.type, 16) + "):", v.data);
      }
    }
  }
  for (const KeyNode& sub : key.subKeys) FormatKey(out, sub, path + u'\\' + sub.name, false);
}

}  // namespace

bool SameName(const QString& a, const QString& b) { return CompareNames(a, b) == 0; }

bool IsStorableName(const QString& name) {
  return std::none_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

bool operator==(const ValueEntry& a, const ValueEntry& b) {
  return a.name == b.name && a.type == b.type && a.data == b.data;
}

bool KeyNode::operator==(const KeyNode& other) const {
  return name == other.name && values == other.values && subKeys == other.subKeys;
}

KeyNode* KeyNode::FindSubKey(const QString& subName) {
  auto it = std::lower_bound(subKeys.begin(), subKeys.end(), subName,
                             [](const KeyNode& k, const QString& n) { return CompareNames(k.name, n) < 0; });
  return it != subKeys.end() && SameName(it->name, subName) ? &*it : nullptr;
}

const KeyNode* KeyNode::FindSubKey(const QString& subName) const {
  return const_cast<KeyNode*>(this)->FindSubKey(subName);
}

KeyNode& KeyNode::SubKey(const QString& subName, bool* created) {
  auto it = std::lower_bound(subKeys.begin(), subKeys.end(), subName,
                             [](const KeyNode& k, const QString& n) { return CompareNames(k.name, n) < 0; });
  if (it != subKeys.end() && SameName(it->name, subName)) {
    if (created) *created = false;
    return *it;
  }
  if (created) *created = true;
  KeyNode node;
  node.name = subName;
  return *subKeys.insert(it, std::move(node));
}

bool KeyNode::RemoveSubKey(const QString& subName) {
  KeyNode* found = FindSubKey(subName);
  if (!found) return false;
  subKeys.erase(subKeys.begin() + (found - subKeys.data()));
  return true;
}

ValueEntry* KeyNode::FindValue(const QString& valueName) {
  for (ValueEntry& v : values)
    if (SameName(v.name, valueName)) return &v;
  return nullptr;
}

const ValueEntry* KeyNode::FindValue(const QString& valueName) const {
  return const_cast<KeyNode*>(this)->FindValue(valueName);
}

void KeyNode::SetValue(const QString& valueName, uint32_t type, const QByteArray& data) {
  if (ValueEntry* v = FindValue(valueName)) {
    v->type = type;
    v->data = data;
    return;
  }
  values.push_back(ValueEntry{valueName, type, data});
}

bool KeyNode::RemoveValue(const QString& valueName) {
  auto it = std::find_if(values.begin(), values.end(),
                         [&](const ValueEntry& v) { return SameName(v.name, valueName); });
  if (it == values.end()) return false;
  values.erase(it);
  return true;
}

ParsedHive ParseHive(const QByteArray& bytes, const QString& hiveName) {
  ParsedHive result;
  result.root.name = hiveName;
  const QList<QByteArray> rawLines = bytes.split('\n');
  auto problem = [&](qsizetype index, const QString& what) {
    result.problems.append(QStringLiteral("line %1: %2").arg(index + 1).arg(what));
  };
  auto lineAt = [&](qsizetype index) {
    QByteArray raw = rawLines[index];
    if (raw.endsWith('\r')) raw.chop(1);
    return DecodeLine(raw);
  };

  bool headerSeen = false;
  KeyNode* current = nullptr;
  bool skippingSection = false;  // values of a section already reported as unreadable
  for (qsizetype i = 0; i < rawLines.size(); ++i) {
    const QString line = lineAt(i);
    const QString t = line.trimmed();
    if (t.isEmpty()) continue;
    if (!headerSeen) {
      headerSeen = true;
      if (t == u"REGEDIT4") continue;
      problem(i, QStringLiteral("the REGEDIT4 header is missing"));
    }
    if (t.startsWith(u';')) continue;
    if (t.contains(QChar(0))) {
      problem(i, QStringLiteral("unreadable bytes"));
      continue;
    }

    if (t.startsWith(u'[')) {
      current = nullptr;
      skippingSection = true;
      // The key path is everything between the brackets; blanks inside are part of the names.
      const qsizetype end = line.lastIndexOf(u']');
      const qsizetype start = line.indexOf(u'[');
      if (end < start || !line.mid(end + 1).trimmed().isEmpty()) {
        problem(i, QStringLiteral("unreadable key line"));
        continue;
      }
      const QString inner = line.mid(start + 1, end - start - 1);
      if (inner.startsWith(u'-')) continue;  // a removal in a merge file; nothing to keep
      const QStringList parts = inner.split(u'\\');
      if (!SameName(parts.front(), hiveName)) {
        problem(i, QStringLiteral("key outside %1").arg(hiveName));
        continue;
      }
      KeyNode* node = &result.root;
      for (qsizetype p = 1; p < parts.size(); ++p)
        if (!parts[p].isEmpty()) node = &node->SubKey(parts[p]);
      current = node;
      skippingSection = false;
      continue;
    }

    // A value line: "name"=data or @=data.
    qsizetype pos = 0;
    QString name;
    if (t.startsWith(u'@')) {
      pos = 1;
    } else if (!t.startsWith(u'"') || !ReadQuoted(t, pos, &name)) {
      problem(i, QStringLiteral("unreadable line"));
      continue;
    }
    SkipBlanks(t, pos);
    if (pos >= t.size() || t[pos] != u'=') {
      problem(i, QStringLiteral("unreadable value line"));
      continue;
    }
    ++pos;
    SkipBlanks(t, pos);
    QString data = t.mid(pos);
    const qsizetype firstLine = i;
    if (data.startsWith(u"hex", Qt::CaseInsensitive)) {
      bool truncated = false;
      while (data.endsWith(u'\\')) {
        data.chop(1);
        if (++i >= rawLines.size()) {
          truncated = true;
          break;
        }
        data += lineAt(i).trimmed();
      }
      if (truncated) {
        problem(firstLine, QStringLiteral("value cut off at the end of the file"));
        break;
      }
    }
    if (!current) {
      if (!skippingSection) problem(firstLine, QStringLiteral("value outside any key"));
      continue;
    }

    if (data.startsWith(u'"')) {
      qsizetype q = 0;
      QString text;
      if (!ReadQuoted(data, q, &text) || !data.mid(q).trimmed().isEmpty()) {
        problem(firstLine, QStringLiteral("unreadable string value"));
        continue;
      }
      current->SetValue(name, kString, text.toUtf8() + '\0');
    } else if (data.startsWith(u"dword:", Qt::CaseInsensitive)) {
      const QString digits = data.mid(6).trimmed();
      bool ok = false;
      const uint32_t n = digits.toUInt(&ok, 16);
      if (!ok || digits.isEmpty() || digits.size() > 8) {
        problem(firstLine, QStringLiteral("unreadable dword value"));
        continue;
      }
      QByteArray le(4, '\0');
      for (int b = 0; b < 4; ++b) le[b] = static_cast<char>((n >> (8 * b)) & 0xFF);
      current->SetValue(name, kDword, le);
    } else if (data.startsWith(u"hex", Qt::CaseInsensitive)) {
      uint32_t type = kBinary;
      qsizetype colon = data.indexOf(u':');
      bool ok = colon > 0;
      if (ok && colon > 3) {
        const QString inner = data.mid(3, colon - 3);
        ok = inner.size() > 2 && inner.startsWith(u'(') && inner.endsWith(u')');
        if (ok) type = inner.mid(1, inner.size() - 2).toUInt(&ok, 16);
      }
      QByteArray bytesOut;
      if (!ok || !ParseHexList(data.mid(colon + 1), &bytesOut)) {
        problem(firstLine, QStringLiteral("unreadable hex value"));
        continue;
      }
      current->SetValue(name, type, bytesOut);
    } else if (data == u"-") {
      current->RemoveValue(name);  // a removal in a merge file
    } else {
      problem(firstLine, QStringLiteral("unreadable value"));
    }
  }
  return result;
}

QByteArray FormatHive(const KeyNode& root, const QString& hiveName) {
  QByteArray out = "REGEDIT4\r\n";
  FormatKey(out, root, hiveName, true);
  out += "\r\n";
  return out;
}

}  // namespace kestrom::registry
