// The profile scanner and its edits: items and script trace of a scan, stream selection with its
// renumbering, attributes set per stream, text written back that the writer's profile parser
// loads, and damaged text that never crashes the scan.
#include "capture/engine/AsfXml.h"
#include "platform/dshow/writers/AsfWriter.h"
#include "tests/platform/core/QtPrint.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace kestrom::engine::test {

namespace {

constexpr const char* kAudio = "{73647561-0000-0010-8000-00AA00389B71}";
constexpr const char* kVideo = "{73646976-0000-0010-8000-00AA00389B71}";

QString AudioConfig(int number) {
  return QStringLiteral(
             "<streamconfig majortype=\"%1\" streamnumber=\"%2\" streamname=\"Audio Stream\" inputname=\"Audio409\" "
             "bitrate=\"32000\"><wmmediatype subtype=\"x\"><waveformatex nChannels=\"2\" nSamplesPerSec=\"44100\"/>"
             "</wmmediatype></streamconfig>")
      .arg(QString::fromLatin1(kAudio))
      .arg(number);
}

QString VideoConfig(int number) {
  return QStringLiteral(
             "<streamconfig majortype=\"%1\" streamnumber=\"%2\" streamname=\"Video Stream\" inputname=\"Video409\" "
             "bitrate=\"384000\"><videomediaprops quality=\"75\"/><wmmediatype subtype=\"y\">"
             "<videoinfoheader dwbitrate=\"384000\"><rcsource right=\"640\" bottom=\"480\"/>"
             "<bitmapinfoheader biwidth=\"640\" biheight=\"480\"/></videoinfoheader></wmmediatype></streamconfig>")
      .arg(QString::fromLatin1(kVideo))
      .arg(number);
}

QString Profile(const QString& configs) { return "<profile version=\"589824\" name=\"Test\">" + configs + "</profile>"; }

QStringList Scanned(TXML& xml, const QString& text) {
  QString script;
  xml.Scan(text, script);
  return xml.Items();
}

QStringList StreamNumbers(const QStringList& items) { return items.filter(QRegularExpression("^streamnumber=")); }

}  // namespace

TEST(AsfProfileXml, ScanFlattensElementsAndAttributesWithTheirScriptTrace) {
  TXML xml;
  QString script;
  xml.Scan("<profile name=\"A b\" empty=\"\">\n  <stream n=\"1\"/>\n</profile>", script);
  EXPECT_EQ(xml.Items(), (QStringList{"<profile", "name=A b", "empty=", "<stream", "n=1", ">stream", ">profile"}));
  EXPECT_EQ(script,
            "   XML.DoXML ('<profile', '');\r\n"
            "   XML.DoXML ('name', 'A b');\r\n"
            "   XML.DoXML ('empty', '');\r\n"
            "   XML.DoXML ('<stream', '');\r\n"
            "   XML.DoXML ('n', '1');\r\n"
            "   XML.DoXML ('>stream', '');\r\n"
            "   XML.DoXML ('>profile', '');\r\n");
  // A second scan starts afresh.
  EXPECT_EQ(Scanned(xml, "<a/>"), (QStringList{"<a", ">a"}));
}

TEST(AsfProfileXml, SelectStreamsDropsTheAudioStreamAndRenumbersOnlyTheStreamsAfterIt) {
  struct Case {
    const char* name;
    QString text;
    bool keepAudio;
    QStringList numbers;  // stream numbers left, in order
    int configs;          // stream configurations left
    QString audioName;
  };
  const QString script = "<streamconfig majortype=\"s\" streamnumber=\"1\" inputname=\"Script\"></streamconfig>";
  const Case cases[] = {
      {"audio first, dropped", Profile(AudioConfig(1) + VideoConfig(2)), false, {"streamnumber=1"}, 1, "Audio409"},
      {"audio first, kept", Profile(AudioConfig(1) + VideoConfig(2)), true, {"streamnumber=1", "streamnumber=2"}, 2, "Audio409"},
      {"video first, dropped", Profile(VideoConfig(1) + AudioConfig(2)), false, {"streamnumber=1"}, 1, "Audio409"},
      // Streams before the dropped one keep their numbers: no two streams end up with one number.
      {"audio last of three", Profile(script + VideoConfig(2) + AudioConfig(3)), false,
       {"streamnumber=1", "streamnumber=2"}, 2, "Audio409"},
      {"video only", Profile(VideoConfig(1)), false, {"streamnumber=1"}, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TASFXML xml;
    Scanned(xml, c.text);
    QString video, audio;
    ASSERT_TRUE(xml.SelectStreams(c.keepAudio, video, audio));
    EXPECT_EQ(video, "Video409");
    EXPECT_EQ(audio, c.audioName);
    EXPECT_EQ(StreamNumbers(xml.Items()), c.numbers);
    EXPECT_EQ(xml.Items().filter(QRegularExpression("^<streamconfig$")).size(), c.configs);
    EXPECT_EQ(xml.Items().filter(QRegularExpression("^>streamconfig$")).size(), c.configs);
    EXPECT_EQ(xml.Items().contains("<waveformatex"), c.keepAudio);
    EXPECT_EQ(xml.Items().filter("Audio409").size(), c.keepAudio ? 1 : 0);
    EXPECT_TRUE(xml.Items().contains("<bitmapinfoheader"));
  }
}

TEST(AsfProfileXml, AProfileWithoutAudioOrVideoStreamIsLeftAlone) {
  TASFXML xml;
  const QStringList before =
      Scanned(xml, "<profile><streamconfig majortype=\"x\" streamnumber=\"2\"></streamconfig></profile>");
  QString video = "v", audio = "a";
  EXPECT_FALSE(xml.SelectStreams(false, video, audio));
  EXPECT_EQ(xml.Items(), before);
  EXPECT_EQ(video, "v");
  EXPECT_EQ(audio, "a");
}

TEST(AsfProfileXml, SetAttributeChangesOnlyTheItemsOfItsStream) {
  TASFXML xml;
  Scanned(xml, Profile(AudioConfig(1) + VideoConfig(2)));
  QString video, audio;
  ASSERT_TRUE(xml.SelectStreams(true, video, audio));
  xml.SetAttribute("BitRate", "64000", ask_Audio);
  xml.SetAttribute("nChannels", "1", ask_Audio);
  xml.SetAttribute("right", "320", ask_Video);
  const QStringList items = xml.Items();
  EXPECT_EQ(items.filter(QRegularExpression("^bitrate=")), (QStringList{"bitrate=64000", "bitrate=384000"}));
  EXPECT_EQ(items.filter("dwbitrate="), (QStringList{"dwbitrate=384000"}));  // a name is a prefix, not a part
  EXPECT_TRUE(items.contains("nchannels=1"));
  EXPECT_TRUE(items.contains("right=320"));
  EXPECT_TRUE(items.contains("bottom=480"));
}

TEST(AsfProfileXml, GenerateWritesEveryAttributeOnItsLineAndAnEndTagForEveryElement) {
  TXML xml;
  Scanned(xml, "<a><b/></a>");
  ASSERT_TRUE(xml.Generate());
  EXPECT_EQ(xml.Text(), "<a >\r\n     <b >\r\n     </b>\r\n</a>\r\n");
  Scanned(xml, "<a x=\"1\" y=\"2\"/>");
  ASSERT_TRUE(xml.Generate());
  EXPECT_EQ(xml.Text(), "<a \r\n     x=\"1\"\r\n     y=\"2\">\r\n</a>\r\n");
  Scanned(xml, "");
  EXPECT_FALSE(xml.Generate());
  EXPECT_EQ(xml.Text(), "");
}

// What the engine hands the profile manager: every system profile, edited as a recording without
// sound edits it, loads with the edits in place.
TEST(AsfProfileXml, EditedSystemProfilesLoadInTheWritersProfileParser) {
  for (const QString& original : dshow::AsfSystemProfiles()) {
    const std::vector<dshow::AsfProfileStream> before = dshow::ParseAsfProfile(original);
    ASSERT_FALSE(before.empty());
    TASFXML xml;
    Scanned(xml, original);
    QString video, audio;
    ASSERT_TRUE(xml.SelectStreams(false, video, audio));
    xml.SetAttribute("biwidth", "160", ask_Video);
    xml.SetAttribute("biheight", "120", ask_Video);
    ASSERT_TRUE(xml.Generate());
    QString name;
    const std::vector<dshow::AsfProfileStream> after = dshow::ParseAsfProfile(xml.Text(), &name);
    const bool hasVideo = before.back().video;
    SCOPED_TRACE(name.toStdString());
    EXPECT_FALSE(name.isEmpty());
    if (!hasVideo) {
      // Without sound a sound-only profile keeps no stream, and the parser refuses it.
      EXPECT_TRUE(after.empty());
      continue;
    }
    ASSERT_EQ(after.size(), 1u);
    EXPECT_TRUE(after[0].video);
    EXPECT_EQ(after[0].streamNumber, 1);
    EXPECT_EQ(after[0].inputName, video);
    EXPECT_EQ(after[0].width, 160);
    EXPECT_EQ(after[0].height, 120);
  }
}

TEST(AsfProfileXml, DamagedTextNeverCrashesAndUnmatchedEndTagsAreIgnored) {
  const char* texts[] = {
      "",
      "</profile>",
      "</a></b>/>",
      "<",
      "<a",
      "<a x=\"",
      "<a x=\"1",
      "<a x=",
      "<a x y z>",
      "<?xml version=\"1.0\"?><!-- note --><a>text &amp; more</a>",
      "\"\"\"<<<>>>///",
      "<a></a></a></a>",
      "<a x=\"1\"></b></c></d>",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    TASFXML xml;
    Scanned(xml, QString::fromUtf8(text));
    QString video, audio;
    xml.SelectStreams(false, video, audio);
    xml.SetAttribute("x", "2", ask_None);
    xml.Generate();
    const QStringList items = xml.Items();
    // Never more elements closed than opened.
    EXPECT_LE(items.filter(QRegularExpression("^>")).size(), items.filter(QRegularExpression("^<")).size());
  }
  TXML xml;
  EXPECT_EQ(Scanned(xml, "</x><a></a></y>"), (QStringList{"<a", ">a"}));
}

}  // namespace kestrom::engine::test
