#pragma once
// A small XML scanner for ASF profiles. TXML flattens a profile's text into one item a line
// ("<name" where an element starts, "attr=value" for each attribute, ">name" where it ends) and
// writes XML text back from those items; TASFXML edits the items of a profile before the writer
// is configured with it. Profiles carry their data in attributes: text between tags, comments,
// entity references and processing instructions are not understood (they never crash the scan).

#include <QString>
#include <QStringList>
#include <vector>

namespace kestrom::engine {

class TXML {
 public:
  TXML() { Clear(); }
  virtual ~TXML() = default;
  TXML(const TXML&) = delete;
  TXML& operator=(const TXML&) = delete;

  /** @brief Empties the items, the open levels and the generated lines. */
  virtual void Clear();
  /** @brief Clears, then flattens text into the items; script gets one "XML.DoXML" line per step. */
  void Scan(const QString& text, QString& script);
  /** @brief Writes the items back as XML lines; true when at least one line was written. */
  bool Generate();
  /** @brief The generated lines, each ended by CR LF. */
  QString Text() const;
  const QStringList& Items() const { return items_; }

 protected:
  /** @brief Removes the item at index (and whatever a subclass keeps with it). */
  virtual void DeleteItem(int index) { items_.removeAt(index); }

  QStringList levels_;  // names of the elements open at the current point of a scan
  QStringList items_;
  QStringList lines_;
  int level_ = 0;
  int state_ = 0;
  int itemIndex_ = -1;  // the attribute item a value belongs to

 private:
  void EmitElementStart(const QString& name, QStringList& script);
  void EmitAttributeName(const QString& name);
  void EmitAttributeValue(const QString& value, QStringList& script);
  void EmitElementEnd(QStringList& script);
};

/** @brief Stream kinds of a profile's items. */
enum TAsfStreamKind { ask_None = 0, ask_Video = 1, ask_Audio = 2 };

class TASFXML final : public TXML {
 public:
  void Clear() override;
  /** @brief Every item of that stream kind whose name begins with name gets the value. */
  void SetAttribute(const QString& name, const QString& value, int streamKind);
  /**
   * @brief Finds the first video and audio stream; without keepAudio drops the audio stream and
   * renumbers the streams after it. False (nothing changed) when there is neither stream.
   */
  bool SelectStreams(bool keepAudio, QString& videoInputName, QString& audioInputName);
  /** @brief The stream kind recorded for an item by SelectStreams (ask_None before it ran). */
  int KindOf(int index) const { return index >= 0 && index < int(kinds_.size()) ? kinds_[size_t(index)] : ask_None; }

 protected:
  void DeleteItem(int index) override;

 private:
  std::vector<int> kinds_;
};

}  // namespace kestrom::engine
