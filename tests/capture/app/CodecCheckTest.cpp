// The start-up codec check: one answer per codec from the back end, the compressor names, and the
// later of two equal names chosen.

#include "StartupTestSupport.h"
#include "capture/app/CodecCheck.h"
#include "platform/dshow/writers/Compressors.h"

#include <gtest/gtest.h>

namespace kestrom::capture {
namespace {

const QString kVideoMissing = "The required Microsoft Video Codec is not installed.\r\nPlease load codec";
const QString kAudioMissing = "The required Microsoft Audio Codec is not installed.\r\nPlease load codec";
const QString kVideoUnlisted =
    "The required Microsoft Video Codec cannot be found.\r\nPlease check that the codec is registered";
const QString kAudioUnlisted =
    "The required Microsoft Audio Codec cannot be found.\r\nPlease check that the codec is registered";

// Answers each codec on its own.
class CodecBackEnd final : public shell::FirstRunChecks {
 public:
  bool video = true, audio = true;
  bool IsAviSynthInstalled() override { return true; }
  bool IsVideoCodecInstalled() override { return video; }
  bool IsAudioCodecInstalled() override { return audio; }
  bool HasDirectX8Or9() override { return true; }
};

TEST(CaptureAppCodecs, EachCheckGivesItsBoxAndEveryCheckRuns) {
  const QStringList videoList = {"Uncompressed", "Microsoft MPEG-4 Video Codec V2", "Motion JPEG"};
  const QStringList audioList = {"PCM", "Microsoft ADPCM"};
  struct Case {
    const char* name;
    bool video, audio;
    QStringList videoNames, audioNames;
    QStringList messages;
    int videoIndex, audioIndex;
  };
  const QList<Case> cases = {
      {"everything present", true, true, videoList, audioList, {}, 1, 1},
      {"video codec missing", false, true, videoList, audioList, {kVideoMissing}, 1, 1},
      {"audio codec missing", true, false, videoList, audioList, {kAudioMissing}, 1, 1},
      {"video name missing", true, true, {"Uncompressed", "Microsoft MPEG-4 Video Codec"}, audioList,
       {kVideoUnlisted}, -1, 1},
      {"audio name missing", true, true, videoList, {"PCM", "microsoft adpcm"}, {kAudioUnlisted}, 1, -1},
      {"nothing at all", false, false, {}, {}, {kVideoMissing, kAudioMissing, kVideoUnlisted, kAudioUnlisted}, -1, -1},
      {"names listed twice: the later wins", true, true,
       {"Microsoft MPEG-4 Video Codec V2", "Uncompressed", "Microsoft MPEG-4 Video Codec V2", "Motion JPEG"},
       {"Microsoft ADPCM", "Microsoft ADPCM", "PCM"}, {}, 2, 1},
  };
  for (const Case& c : cases) {
    CodecBackEnd backEnd;
    backEnd.video = c.video;
    backEnd.audio = c.audio;
    const CodecCheckOutcome outcome = CheckCodecs(backEnd, c.videoNames, c.audioNames);
    QStringList texts;
    for (const FormMessage& m : outcome.messages) {
      texts << m.text;
      EXPECT_EQ(m.leftOffset, 430) << c.name;
    }
    EXPECT_EQ(texts, c.messages) << c.name;
    EXPECT_EQ(outcome.Terminate(), !c.messages.isEmpty()) << c.name;
    EXPECT_EQ(outcome.videoCompressor, c.videoIndex) << c.name;
    EXPECT_EQ(outcome.audioCompressor, c.audioIndex) << c.name;
  }
}

TEST(CaptureAppCodecs, TheRunningSystemAndTheGraphsCompressorListsPass) {
  // FFmpeg's encoders stand in for the codecs; the graph's compressor lists carry their names.
  QStringList video, audio;
  for (const dshow::CompressorInfo& c : dshow::VideoCompressors()) video << c.name;
  for (const dshow::CompressorInfo& c : dshow::AudioCompressors()) audio << c.name;
  const CodecCheckOutcome outcome = CheckCodecs(shell::AppFirstRunChecks(), video, audio);
  EXPECT_FALSE(outcome.Terminate());
  ASSERT_GE(outcome.videoCompressor, 0);
  EXPECT_EQ(video[outcome.videoCompressor], kVideoCodecName);
  ASSERT_GE(outcome.audioCompressor, 0);
  EXPECT_EQ(audio[outcome.audioCompressor], kAudioCodecName);
}

}  // namespace
}  // namespace kestrom::capture
