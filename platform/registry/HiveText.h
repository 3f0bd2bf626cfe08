#pragma once
// One hive in memory, and its text form: the REGEDIT4 export syntax.
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\X]
//   @="default value"
//   "Name"="text with \"quotes\" and \\ backslashes"
//   "N"=dword:0000002a
//   "B"=hex:01,02,\   (a long hex list goes on in the next line)
//     03
//   "E"=hex(2):25,54,45,4d,50,25,00
//
// Strings are kept as the bytes stored (UTF-8 and one NUL); a string that cannot be written
// between quotes unchanged (no NUL at its end, a NUL or a line break inside, bytes that are not
// UTF-8) is written as hex(1): so that every value comes back byte for byte.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace kestrom::registry {

struct ValueEntry {
  QString name;  // as first written; empty for the default value
  uint32_t type = 0;
  QByteArray data;
};

struct KeyNode {
  QString name;                  // as first written
  std::vector<ValueEntry> values;  // in the order they were first written
  std::vector<KeyNode> subKeys;    // sorted by name without regard to case

  /** @brief The subkey of that name (any case), or null. */
  KeyNode* FindSubKey(const QString& subName);
  const KeyNode* FindSubKey(const QString& subName) const;
  /** @brief The subkey of that name, made (in sorted place) when missing. */
  KeyNode& SubKey(const QString& subName, bool* created = nullptr);
  /** @brief Removes the subkey of that name; false when there is none. */
  bool RemoveSubKey(const QString& subName);

  ValueEntry* FindValue(const QString& valueName);
  const ValueEntry* FindValue(const QString& valueName) const;
  /** @brief Sets a value; a value already there keeps its place and the case of its name. */
  void SetValue(const QString& valueName, uint32_t type, const QByteArray& data);
  bool RemoveValue(const QString& valueName);

  bool operator==(const KeyNode& other) const;
};

bool operator==(const ValueEntry& a, const ValueEntry& b);

/** @brief Names compare like this everywhere in the store. */
bool SameName(const QString& a, const QString& b);

/** @brief A key or value name that the hive file can carry (no control characters). */
bool IsStorableName(const QString& name);

struct ParsedHive {
  KeyNode root;
  QStringList problems;  // one line per damaged place; empty for a sound file
};

/**
 * @brief Reads a hive file's bytes. Whatever can be read is kept; each line that cannot be read
 * (and each value of a section that does not belong to this hive) is reported in problems.
 * Empty bytes are an empty, sound hive.
 */
ParsedHive ParseHive(const QByteArray& bytes, const QString& hiveName);

/** @brief The hive as REGEDIT4 text, lines ended by CR LF; ParseHive reads it back unchanged. */
QByteArray FormatHive(const KeyNode& root, const QString& hiveName);

}  // namespace kestrom::registry
