#include "capture/engine/AsfXml.h"

#include <algorithm>
#include <utility>

namespace kestrom::engine {

namespace {

// Scan states.
enum {
  OutsideTag = 0,
  AfterOpen = 1,
  InElementName = 2,
  InTag = 3,
  InAttributeName = 4,
  AfterAttributeName = 5,
  InAttributeValue = 6,
};

constexpr int IndentWidth = 5;

QString ScriptLine(const QString& name, const QString& value) {
  return QStringLiteral("   XML.DoXML ('") + name + QStringLiteral("', '") + value + QStringLiteral("');");
}

}  // namespace

void TXML::Clear() {
  levels_.clear();
  items_.clear();
  lines_.clear();
  level_ = 0;
  state_ = OutsideTag;
  itemIndex_ = -1;
}

void TXML::EmitElementStart(const QString& name, QStringList& script) {
  levels_.push_back(name);
  ++level_;
  items_.push_back(QLatin1Char('<') + name);
  script.push_back(ScriptLine(QLatin1Char('<') + name, QString()));
  itemIndex_ = -1;
}

void TXML::EmitAttributeName(const QString& name) {
  items_.push_back(name);
  itemIndex_ = int(items_.size()) - 1;
}

void TXML::EmitAttributeValue(const QString& value, QStringList& script) {
  if (itemIndex_ < 0 || itemIndex_ >= items_.size()) return;
  const QString name = items_[itemIndex_];
  script.push_back(ScriptLine(name, value));
  items_[itemIndex_] = name + QLatin1Char('=') + value;
  itemIndex_ = -1;
}

void TXML::EmitElementEnd(QStringList& script) {
  // An end tag with no element open is ignored: there is nothing it could close.
  if (levels_.isEmpty()) return;
  const QString name = levels_.takeLast();
  --level_;
  items_.push_back(QLatin1Char('>') + name);
  script.push_back(ScriptLine(QLatin1Char('>') + name, QString()));
  itemIndex_ = -1;
}

void TXML::Scan(const QString& text, QString& script) {
  Clear();
  QStringList steps;
  QString token;
  // Emits what the token holds in the current state: an element name or an attribute name.
  auto emitToken = [&] {
    if (state_ == InElementName) {
      EmitElementStart(token, steps);
      state_ = InTag;
    } else if (state_ == InAttributeName) {
      EmitAttributeName(token);
      state_ = AfterAttributeName;
    }
    token.clear();
  };
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = text[i];
    const QChar next = i + 1 < n ? text[i + 1] : QChar();
    if (c == QLatin1Char('"')) {
      if (state_ == AfterAttributeName) {
        token.clear();
        state_ = InAttributeValue;
      } else if (state_ == InAttributeValue) {
        EmitAttributeValue(token, steps);
        token.clear();
        state_ = InTag;
      }
    } else if (state_ == InAttributeValue) {
      token += c;
    } else if (c.isLetterOrNumber()) {
      if (state_ == AfterOpen) {
        token = c;
        state_ = InElementName;
      } else if (state_ == AfterAttributeName) {
        token = c;
        state_ = InAttributeValue;
      } else if (state_ == InTag) {
        token = c;
        state_ = InAttributeName;
      } else {
        token += c;
      }
    } else if ((c == QLatin1Char('/') && next == QLatin1Char('>')) || (c == QLatin1Char('<') && next == QLatin1Char('/'))) {
      // "<a/>": the element's name is still in the token; it starts before it ends.
      if (!token.isEmpty()) emitToken();
      token.clear();
      EmitElementEnd(steps);
      state_ = OutsideTag;
      if (c == QLatin1Char('<')) {
        // Skip the closing tag's name: the open level already names the element.
        while (i + 1 < n && text[i + 1] != QLatin1Char('>')) ++i;
      }
      ++i;  // the '>' (or the '/' of "</")
    } else if (c == QLatin1Char('<')) {
      token.clear();
      state_ = AfterOpen;
    } else if (c == QLatin1Char('>')) {
      if (!token.isEmpty()) emitToken();
      state_ = OutsideTag;
    } else if (!token.isEmpty()) {
      if (state_ == InElementName || state_ == InAttributeName) emitToken();
    }
  }
  script.clear();
  for (const QString& line : steps) script += line + QStringLiteral("\r\n");
}

bool TXML::Generate() {
  lines_.clear();
  int level = 0;
  QString pending;
  bool hasPending = false;
  auto indent = [&] { return QString(std::max(level, 0) * IndentWidth, QLatin1Char(' ')); };
  for (const QString& item : items_) {
    if (item.startsWith(QLatin1Char('<'))) {
      if (hasPending) lines_.push_back(pending + QLatin1Char('>'));
      pending = indent() + QLatin1Char('<') + item.mid(1) + QLatin1Char(' ');
      hasPending = true;
      ++level;
    } else if (item.startsWith(QLatin1Char('>'))) {
      if (hasPending) lines_.push_back(pending + QLatin1Char('>'));
      hasPending = false;
      --level;
      lines_.push_back(indent() + QStringLiteral("</") + item.mid(1) + QLatin1Char('>'));
    } else {
      if (hasPending) lines_.push_back(pending);
      const qsizetype eq = item.indexOf(QLatin1Char('='));
      const QString name = eq < 0 ? item : item.left(eq);
      const QString value = eq < 0 ? QString() : item.mid(eq + 1);
      pending = indent() + name + QStringLiteral("=\"") + value + QLatin1Char('"');
      hasPending = true;
    }
  }
  // Items of elements that were never closed still come out.
  if (hasPending) lines_.push_back(pending + QLatin1Char('>'));
  return !lines_.isEmpty();
}

QString TXML::Text() const {
  QString text;
  for (const QString& line : lines_) text += line + QStringLiteral("\r\n");
  return text;
}

void TASFXML::Clear() {
  kinds_.clear();
  TXML::Clear();
}

void TASFXML::DeleteItem(int index) {
  if (index < int(kinds_.size())) kinds_.erase(kinds_.begin() + index);
  TXML::DeleteItem(index);
}

void TASFXML::SetAttribute(const QString& name, const QString& value, int streamKind) {
  const QString lower = name.toLower();
  for (int i = 0; i < items_.size(); ++i) {
    if (KindOf(i) != streamKind) continue;
    const QString item = items_[i].toLower();
    if (item.startsWith(lower) && item.contains(QLatin1Char('='))) items_[i] = lower + QLatin1Char('=') + value;
  }
}

bool TASFXML::SelectStreams(bool keepAudio, QString& videoInputName, QString& audioInputName) {
  static const QLatin1String kOpen("<streamconfig"), kClose(">streamconfig"), kInputName("inputname"),
      kStreamNumber("streamnumber=");
  // First pass: which configuration is the first video and the first audio stream, and the kind
  // of stream every item belongs to.
  kinds_.assign(size_t(items_.size()), ask_None);
  int kind = ask_None, config = 0, videoConfig = 0, audioConfig = 0, audioNumber = 0;
  bool inConfig = false;
  for (int i = 0; i < items_.size(); ++i) {
    const QString item = items_[i].toLower();
    if (item.startsWith(kOpen)) {
      inConfig = true;
      ++config;
    } else if (item.startsWith(kClose)) {
      inConfig = false;
      kind = ask_None;
    } else if (inConfig) {
      if (item.contains(QLatin1String("audio")) || item.contains(QLatin1String("<waveformatex"))) {
        kind = ask_Audio;
        if (audioConfig == 0) audioConfig = config;
      } else if (item.contains(QLatin1String("video")) || item.contains(QLatin1String("<videoinfoheader"))) {
        kind = ask_Video;
        if (videoConfig == 0) videoConfig = config;
      }
    }
    kinds_[size_t(i)] = kind;
  }
  if (videoConfig == 0 && audioConfig == 0) return false;
  const bool dropAudio = !keepAudio && audioConfig != 0;
  // The dropped stream's own number: only the streams after it move down.
  if (dropAudio) {
    config = 0;
    for (const QString& raw : std::as_const(items_)) {
      const QString item = raw.toLower();
      if (item.startsWith(kOpen)) ++config;
      else if (config == audioConfig && item.startsWith(kStreamNumber)) {
        audioNumber = item.mid(kStreamNumber.size()).toInt();
        break;
      }
    }
    if (audioNumber < 1) audioNumber = 1;
  }

  // Second pass: input names, renumbering and the items of the dropped stream.
  std::vector<bool> marked(size_t(items_.size()), false);
  bool removing = false;
  config = 0;
  inConfig = false;
  for (int i = 0; i < items_.size(); ++i) {
    const QString item = items_[i].toLower();
    if (item.startsWith(kOpen)) {
      inConfig = true;
      ++config;
      if (dropAudio && config == audioConfig) removing = true;
    } else if (item.startsWith(kClose)) {
      inConfig = false;
      if (removing) {
        marked[size_t(i)] = true;
        removing = false;
      }
      continue;
    } else if (inConfig) {
      if (item.startsWith(kInputName)) {
        const QString name = items_[i].mid(10);
        if (config == videoConfig) videoInputName = name;
        else if (config == audioConfig) audioInputName = name;
      }
      if (dropAudio && item.startsWith(kStreamNumber)) {
        const int number = item.mid(kStreamNumber.size()).toInt();
        if (number > audioNumber) items_[i] = items_[i].left(kStreamNumber.size()) + QString::number(number - 1);
      }
    }
    if (removing) marked[size_t(i)] = true;
  }
  for (int i = int(marked.size()) - 1; i >= 0; --i)
    if (marked[size_t(i)]) DeleteItem(i);
  return true;
}

}  // namespace kestrom::engine
