#include "platform/registry/HiveText.h"

#include <gtest/gtest.h>

namespace kestrom::registry {
namespace {

QByteArray Str(const char* text) { return QByteArray(text) + '\0'; }

KeyNode SampleHive() {
  KeyNode root;
  root.name = "HKEY_CURRENT_USER";
  KeyNode& x = root.SubKey("Software").SubKey("X");
  x.SetValue("", 1, Str("default"));
  x.SetValue("Say", 1, Str("he said \"hi\" at C:\\temp\\"));
  x.SetValue("Quote \"in\" name\\", 1, Str("q"));
  x.SetValue("Grüße", 1, QString::fromUtf8("Größe €").toUtf8() + '\0');
  x.SetValue("Empty", 1, Str(""));
  x.SetValue("NoNul", 1, QByteArray("abc"));
  x.SetValue("TwoLines", 1, Str("one\r\ntwo"));
  x.SetValue("NulInside", 1, QByteArray("a\0b\0", 4));
  x.SetValue("N", 4, QByteArray("\x2a\0\0\0", 4));
  x.SetValue("Big", 4, QByteArray("\xff\xff\xff\xff", 4));
  x.SetValue("ShortDword", 4, QByteArray("\x01\x02", 2));
  x.SetValue("Nothing", 3, QByteArray());
  QByteArray block;
  for (int i = 0; i < 200; ++i) block.append(static_cast<char>(i % 7 == 0 ? 0 : i));
  x.SetValue("Block", 3, block);
  x.SetValue("Path", 2, Str("%HOME%\\bin"));
  x.SetValue("None", 0, QByteArray("\0\1", 2));
  x.SetValue("Q", 11, QByteArray("\1\0\0\0\0\0\0\0", 8));
  x.SetValue("CameraControlValues ", 3, QByteArray(168, '\0'));
  x.SetValue("@", 1, Str("a value named @, not the default"));
  root.SubKey("Software").SubKey("Empty Key ");
  root.SubKey("Software").SubKey("a");  // sorts before "X" without regard to case
  return root;
}

TEST(HiveText, EveryKindOfValueComesBackByteForByte) {
  const KeyNode hive = SampleHive();
  const QByteArray text = FormatHive(hive, "HKEY_CURRENT_USER");
  const ParsedHive parsed = ParseHive(text, "HKEY_CURRENT_USER");
  EXPECT_TRUE(parsed.problems.isEmpty()) << parsed.problems.join('\n').toStdString();
  EXPECT_TRUE(parsed.root == hive) << text.toStdString();
  // The same text again: formatting is stable.
  EXPECT_EQ(FormatHive(parsed.root, "HKEY_CURRENT_USER"), text);
}

TEST(HiveText, WritesTheExportSyntax) {
  const QByteArray text = FormatHive(SampleHive(), "HKEY_CURRENT_USER");
  EXPECT_TRUE(text.startsWith("REGEDIT4\r\n"));
  for (const char* line : {
           "[HKEY_CURRENT_USER\\Software\\X]\r\n",
           "[HKEY_CURRENT_USER\\Software\\Empty Key ]\r\n",
           "@=\"default\"\r\n",
           "\"Say\"=\"he said \\\"hi\\\" at C:\\\\temp\\\\\"\r\n",
           "\"Quote \\\"in\\\" name\\\\\"=\"q\"\r\n",
           "\"Empty\"=\"\"\r\n",
           "\"N\"=dword:0000002a\r\n",
           "\"Big\"=dword:ffffffff\r\n",
           "\"ShortDword\"=hex(4):01,02\r\n",
           "\"NoNul\"=hex(1):61,62,63\r\n",
           "\"Nothing\"=hex:\r\n",
           "\"Path\"=hex(2):25,48,4f,4d,45,25,5c,62,69,6e,00\r\n",
           "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n",
           "\"@\"=\"a value named @, not the default\"\r\n",
       })
    EXPECT_TRUE(text.contains(line)) << line;
  EXPECT_LT(text.indexOf("Software\\a]"), text.indexOf("Software\\Empty Key ]"));
  EXPECT_LT(text.indexOf("Software\\Empty Key ]"), text.indexOf("Software\\X]"));
  // Long hex lists are wrapped, each line ending in "\" and no line wider than 80 columns.
  for (const QByteArray& line : text.split('\n')) EXPECT_LE(line.size(), 81) << line.toStdString();
  EXPECT_TRUE(text.contains(",\\\r\n  "));
}

TEST(HiveText, ReadsHandWrittenFiles) {
  // LF line ends, blanks around "=", comments, another case for the hive, an unescaped path.
  const QByteArray text =
      "REGEDIT4\n\n"
      "; settings\n"
      "[hkey_local_machine\\Software\\Microsoft\\DirectX]\n"
      "\"Version\" = \"4.09.00.0904\"\n"
      "\"Dir\"=\"C:\\Windows\"\n"
      "\"Bytes\"=hex:01, 02,\\\n"
      "   03,\n"
      "\"Gone\"=\"x\"\n"
      "\"Gone\"=-\n";
  const ParsedHive parsed = ParseHive(text, "HKEY_LOCAL_MACHINE");
  EXPECT_TRUE(parsed.problems.isEmpty()) << parsed.problems.join('\n').toStdString();
  const KeyNode* key = parsed.root.FindSubKey("SOFTWARE");
  key = key ? key->FindSubKey("microsoft") : nullptr;
  key = key ? key->FindSubKey("directx") : nullptr;
  ASSERT_NE(key, nullptr);
  ASSERT_NE(key->FindValue("version"), nullptr);
  EXPECT_EQ(key->FindValue("version")->data, Str("4.09.00.0904"));
  EXPECT_EQ(key->FindValue("Dir")->data, Str("C:\\Windows"));
  EXPECT_EQ(key->FindValue("Bytes")->data, QByteArray("\1\2\3"));
  EXPECT_EQ(key->FindValue("Gone"), nullptr);
  // Windows-1252 bytes in a file made on Windows.
  const ParsedHive latin = ParseHive("REGEDIT4\r\n[HKEY_CURRENT_USER\\K]\r\n\"N\"=\"Gr\xfc\xdf\x65 \x80\"\r\n",
                                     "HKEY_CURRENT_USER");
  ASSERT_NE(latin.root.FindSubKey("K"), nullptr);
  EXPECT_EQ(latin.root.FindSubKey("K")->FindValue("N")->data, QString::fromUtf8("Grüße €").toUtf8() + '\0');
}

TEST(HiveText, DamageIsReportedAndTheRestKept) {
  struct Case {
    const char* what;
    QByteArray text;
    int problems;
  };
  const QByteArray good = "[HKEY_CURRENT_USER\\A]\r\n\"Kept\"=dword:00000001\r\n";
  const QByteArray tail = "[HKEY_CURRENT_USER\\B]\r\n\"AlsoKept\"=\"yes\"\r\n";
  const Case cases[] = {
      {"garbage line", "REGEDIT4\r\n" + good + "@@@ garbage\r\n" + tail, 1},
      {"unterminated string", "REGEDIT4\r\n" + good + "\"Bad\"=\"open\r\n" + tail, 1},
      {"bad hex", "REGEDIT4\r\n" + good + "\"Bad\"=hex:01,zz\r\n" + tail, 1},
      {"bad dword", "REGEDIT4\r\n" + good + "\"Bad\"=dword:123456789\r\n" + tail, 1},
      {"unknown data", "REGEDIT4\r\n" + good + "\"Bad\"=qword:1\r\n" + tail, 1},
      {"broken key line", "REGEDIT4\r\n" + good + "[HKEY_CURRENT_USER\\C\r\n\"Lost\"=\"x\"\r\n" + tail, 1},
      {"key of another hive", "REGEDIT4\r\n" + good + "[HKEY_USERS\\C]\r\n\"Lost\"=\"x\"\r\n" + tail, 1},
      {"missing header", good + tail, 1},
      {"zero bytes", "REGEDIT4\r\n" + good + QByteArray(40, '\0') + "\r\n" + tail, 1},
      {"value before any key", "REGEDIT4\r\n\"Loose\"=\"x\"\r\n" + good + tail, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ParsedHive parsed = ParseHive(c.text, "HKEY_CURRENT_USER");
    EXPECT_EQ(parsed.problems.size(), c.problems) << parsed.problems.join('\n').toStdString();
    ASSERT_NE(parsed.root.FindSubKey("A"), nullptr);
    ASSERT_NE(parsed.root.FindSubKey("B"), nullptr);
    EXPECT_NE(parsed.root.FindSubKey("A")->FindValue("Kept"), nullptr);
    EXPECT_NE(parsed.root.FindSubKey("B")->FindValue("AlsoKept"), nullptr);
    EXPECT_EQ(parsed.root.FindSubKey("A")->FindValue("Bad"), nullptr);
    EXPECT_EQ(parsed.root.FindSubKey("C"), nullptr);
  }
  // A hex list cut off by the end of the file is dropped, not taken short.
  const ParsedHive cut = ParseHive("REGEDIT4\r\n" + good + "\"Cut\"=hex:01,02,\\", "HKEY_CURRENT_USER");
  EXPECT_EQ(cut.problems.size(), 1);
  EXPECT_EQ(cut.root.FindSubKey("A")->FindValue("Cut"), nullptr);
  EXPECT_TRUE(ParseHive("", "HKEY_CURRENT_USER").problems.isEmpty());
}

}  // namespace
}  // namespace kestrom::registry
