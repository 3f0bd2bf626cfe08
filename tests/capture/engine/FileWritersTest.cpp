// The recording's writer on the test camera and microphone: the AVI mux's index and master
// stream, the ASF writer with its profile and network sinks, and the MPEG writer bound in place
// of a compressor. Files are read back through FFmpeg.
#include "TestCameraFixture.h"

#include "capture/engine/FK.h"
#include "capture/engine/GraphHelpers.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/writers/AsfWriter.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/media/VideoReader.h"

#include <QFile>
#include <QtEndian>
#include <QRegularExpression>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrom::engine::test {

using com::ComPtr;
using namespace dshow;

namespace {

class FileWriters : public TestCameraTest {
 protected:
  std::unique_ptr<TFK> Camera(bool audio) {
    auto fk = std::make_unique<TFK>();
    fk->SetAudioRecording(audio);
    fk->SetFrameGrabber(fg_Disabled);
    fk->SetStoragePath(workDir_.path());
    fk->SetVideoDevice(CameraIndex());
    if (audio) fk->SetAudioDevice(MicrophoneIndex());
    return fk;
  }
  /** @brief Records for a moment; the recorded file (empty when the recording did not start). */
  static QString Record(TFK& fk, int ms = 500) {
    if (!fk.StartRecording()) return {};
    QThread::msleep(ms);
    fk.StopRecording();
    return fk.GetLastRecordedFile();
  }
  static bool LogHas(const QString& text) { return ProcessLogLines().filter(text).size() > 0; }
};

/** @brief A port some other program listens on, for as long as it lives. */
class BusyPort {
 public:
  BusyPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd_, 1) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    port_ = ntohs(address.sin_port);
  }
  ~BusyPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// The ids of the chunks directly inside each RIFF list of a file, in order.
QList<QByteArray> RiffTopLevelChunks(const QString& path) {
  QFile f(path);
  QList<QByteArray> ids;
  if (!f.open(QIODevice::ReadOnly)) return ids;
  const qint64 size = f.size();
  for (qint64 at = 0; at + 12 <= size;) {
    f.seek(at);
    const QByteArray riff = f.read(12);
    if (!riff.startsWith("RIFF")) break;
    const qint64 end = std::min<qint64>(size, at + 8 + qFromLittleEndian<quint32>(riff.constData() + 4));
    for (qint64 pos = at + 12; pos + 8 <= end;) {
      f.seek(pos);
      const QByteArray header = f.read(8);
      ids << header.left(4);
      pos += 8 + ((qint64(qFromLittleEndian<quint32>(header.constData() + 4)) + 1) & ~qint64(1));
    }
    at = end + (end & 1);
  }
  return ids;
}

}  // namespace

// The compatibility setting follows the OpenDML choice, yet a file within its first RIFF list keeps
// the AVI 1.0 index, its only index; the master stream is the sound's when sound is written, and
// none is set without it.
TEST_F(FileWriters, EveryFileKeepsAnIndexAndOnlyASoundTrackGetsTheMasterStream) {
  struct Case {
    const char* name;
    bool openDML, audio;
    BOOL compatibilityIndex;
    LONG masterStream;
  };
  const Case cases[] = {{"AVI 1.0", false, false, TRUE, -1}, {"OpenDML", true, false, FALSE, -1},
                        {"with sound", false, true, TRUE, 1}};
  // Live devices, so that the file stays within its first RIFF list, whose AVI 1.0 index the
  // muxer writes when a second one begins.
  dshow::SetTestDevicesLive(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fk = Camera(c.audio);
    fk->SetAVIFormatOpenDML(c.openDML);
    ASSERT_TRUE(fk->StartRecording());
    ComPtr<IConfigAviMux> mux;
    ASSERT_EQ(fk->FileWriter()->QueryInterface(IID_IConfigAviMux, mux.PutVoid()), com::S_OK);
    BOOL compatible = -1;
    LONG master = 5;
    mux->GetOutputCompatibilityIndex(&compatible);
    mux->GetMasterStream(&master);
    EXPECT_EQ(compatible, c.compatibilityIndex);
    EXPECT_EQ(master, c.masterStream);
    EXPECT_EQ(fk->MasterStream(), c.audio ? 1 : 2);
    QThread::msleep(400);
    fk->StopRecording();
    const QString file = fk->GetLastRecordedFile();
    // The index is a chunk of the file's first RIFF list; the same four bytes may stand in a picture.
    EXPECT_TRUE(RiffTopLevelChunks(file).contains("idx1")) << RiffTopLevelChunks(file).join(' ').toStdString();
    media::VideoReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.ErrorString().toStdString();
    EXPECT_GE(reader.Info().frameCount, 2);
    EXPECT_EQ(reader.Info().hasAudio, c.audio);
  }
}

// A system profile with the engine's size and channel edits: the writer takes the profile's
// input names and FFmpeg reads the edited picture size and channel count back.
TEST_F(FileWriters, AnASFRecordingHasThePictureSizeAndChannelsTheSettingsAsk) {
  auto fk = Camera(true);
  fk->SetRecordingMethod(rm_ASF);
  fk->SetASFProfile(1);  // 640x480 and stereo
  fk->SetASFVideoWidth(320);
  fk->SetASFVideoHeight(240);
  fk->SetASFAudioChannels(1);
  // Writing waits for the application: held and released through the "control" tees' stream control.
  int ready = 0;
  fk->Events().OnRecordingReadyToStart = [&](QObject*, bool& start) {
    ++ready;
    start = true;
  };
  ASSERT_TRUE(fk->StartRecording()) << ProcessLogLines().join("\n").toStdString();
  QStringList names;
  {
    ComPtr<IEnumFilters> filters;
    ASSERT_EQ(fk->Graph()->EnumFilters(filters.Put()), com::S_OK);
    ComPtr<IBaseFilter> filter;
    ULONG fetched = 0;
    while (filters->Next(1, filter.Put(), &fetched) == com::S_OK && filter) names << FilterName(filter.Get());
  }
  EXPECT_EQ(names.filter(QRegularExpression("^control\\d+$")).size(), 2) << names.join(", ").toStdString();
  EXPECT_EQ(ready, 1);
  EXPECT_FALSE(LogHas("ERROR: no stream control"));
  QThread::msleep(800);
  fk->StopRecording();
  const QString file = fk->GetLastRecordedFile();
  ASSERT_FALSE(file.isEmpty());
  EXPECT_TRUE(file.endsWith("fk000001.asf")) << file.toStdString();
  EXPECT_TRUE(LogHas("using ASF profile: \"Video 1 Mbps 640x480 and stereo sound 64 Kbps\""));
  EXPECT_EQ(fk->asfVideoInputName_, "Video409");
  EXPECT_EQ(fk->asfAudioInputName_, "Audio409");
  media::VideoReader reader;
  ASSERT_TRUE(reader.Open(file)) << reader.ErrorString().toStdString();
  EXPECT_EQ(reader.Info().size, QSize(320, 240));
  EXPECT_TRUE(reader.Info().hasAudio);
  EXPECT_EQ(reader.Info().audioChannels, 1);
  EXPECT_GE(reader.Info().frameCount, 2);

  // Without sound the profile's audio stream is dropped; the settings left at -1 keep the profile's values.
  auto silent = Camera(false);
  silent->SetRecordingMethod(rm_ASF);
  silent->SetASFProfile(0);
  silent->SetASFVideoWidth(-1);
  const QString second = Record(*silent, 600);
  ASSERT_FALSE(second.isEmpty());
  media::VideoReader silentReader;
  ASSERT_TRUE(silentReader.Open(second));
  EXPECT_EQ(silentReader.Info().size, QSize(320, 240));
  EXPECT_FALSE(silentReader.Info().hasAudio);
}

TEST_F(FileWriters, ABadProfileIndexOrProfileTextFailsTheRecordingWithItsError) {
  DWORD count = 0;
  {
    ComPtr<IWMProfileManager> manager;
    ASSERT_EQ(WMCreateProfileManager(manager.Put()), com::S_OK);
    manager->GetSystemProfileCount(&count);
  }
  for (const int index : {int(count), -2}) {
    SCOPED_TRACE(index);
    ResetProcessLog();
    EnableProcessLog();
    auto fk = Camera(false);
    fk->SetRecordingMethod(rm_ASF);
    fk->SetASFProfile(index);
    EXPECT_FALSE(fk->StartRecording());
    EXPECT_TRUE(LogHas("ERROR: ASF profile index out of range"));
    EXPECT_TRUE(LogHas("cannot start Recording"));
    EXPECT_EQ(fk->GetCurrentState(), cs_None);
  }
  EXPECT_TRUE(QDir(workDir_.path()).entryList({"*.asf"}).isEmpty());

  // Texts the profile edits cannot use: no stream at all, one the profile manager refuses, and a
  // sound-only profile when no sound is recorded.
  ComPtr<IWMProfileManager> manager;
  ASSERT_EQ(WMCreateProfileManager(manager.Put()), com::S_OK);
  ComPtr<IConfigAsfWriter> config;
  ASSERT_EQ(com::CoCreateInstance(CLSID_WMAsfWriter, nullptr, com::CLSCTX_INPROC_SERVER, IID_IConfigAsfWriter,
                                  config.PutVoid()),
            com::S_OK);
  const QString texts[] = {
      "",
      "<profile><streamconfig majortype=\"x\" streamnumber=\"1\"></streamconfig></profile>",
      "<profile><streamconfig streamname=\"Video\" inputname=\"Video409\"></streamconfig></profile>",
      "</profile><<streamconfig streamname=\"video\" \"",
      AsfSystemProfiles().back(),
  };
  TFK fk;
  fk.SnapshotBuildParameters();  // no sound recorded
  for (const QString& text : texts) {
    SCOPED_TRACE(text.left(60).toStdString());
    ResetProcessLog();
    EnableProcessLog();
    EXPECT_FALSE(fk.ConfigureASFProfile(config.Get(), manager.Get(), text));
    EXPECT_TRUE(LogHas("ERROR: failed to load ASF profile"));
    EXPECT_TRUE(fk.asfVideoInputName_.isEmpty());
  }
}

TEST_F(FileWriters, TheStreamingHostUrlIsReportedBehindMmsWithItsHostAndPort) {
  struct Case {
    const char* url;
    const char* reported;
    const char* host;
    uint16_t port;
  };
  const Case cases[] = {
      {"http://coach-pc:8080", "mms://coach-pc:8080", "coach-pc", 8080},
      {"http://coach-pc:8080/live", "mms://coach-pc:8080/live", "coach-pc", 0},  // a path: no port
      {"http://coach-pc", "mms://coach-pc", "coach-pc", 0},
      {"http://coach-pc:99999", "mms://coach-pc:99999", "coach-pc", 0},
      {"mms://coach-pc:8080", "mms://coach-pc:8080", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const TStreamingHostUrl host = StreamingHostUrl(QString::fromLatin1(c.url));
    EXPECT_EQ(host.url, c.reported);
    EXPECT_EQ(host.host, c.host);
    EXPECT_EQ(host.port, c.port);
  }
}

// A port in use is an error, never a silent other port; an unreachable publishing point fails
// the recording and writes no file.
TEST_F(FileWriters, NetworkStreamingThatCannotStartFailsTheRecording) {
  BusyPort busy;
  ASSERT_NE(busy.Port(), 0);
  struct Case {
    const char* name;
    int method, streaming;
    const char* error;
  };
  const QString point = QStringLiteral("http://127.0.0.1:1/YourPublishingPoint");
  const Case cases[] = {
      {"direct, port in use", rm_Stream, ns_ASFDirectNetworkStreaming, "ERROR: failed to setup network streaming"},
      {"file and direct, port in use", rm_ASF, ns_ASFDirectNetworkStreaming, "ERROR: failed to setup network streaming"},
      {"publishing point unreachable", rm_Stream, ns_ASFStreamingToPublishingPoint,
       "ERROR: failed to connect to publishing point \"http://127.0.0.1:1/YourPublishingPoint\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessLog();
    EnableProcessLog();
    auto fk = Camera(false);
    fk->SetRecordingMethod(c.method);
    fk->SetNetworkStreaming(c.streaming);
    fk->SetASFNetworkPort(busy.Port());
    fk->SetASFMediaServerPublishingPoint(point);
    int urls = 0;
    fk->Events().OnDirectNetworkStreamingHostUrl = [&](QObject*, const QString&, const QString&, uint16_t) { ++urls; };
    EXPECT_FALSE(fk->StartRecording());
    EXPECT_TRUE(LogHas(c.error)) << ProcessLogLines().join("\n").toStdString();
    EXPECT_TRUE(LogHas("cannot start Recording"));
    EXPECT_EQ(fk->GetASFNetworkPort(), busy.Port());
    EXPECT_EQ(urls, 0);
    EXPECT_EQ(fk->GetCurrentState(), cs_None);
    EXPECT_TRUE(QDir(workDir_.path()).entryList({"*.asf"}).isEmpty());
  }
}

// Where the layer serves network streams: port 0 takes a free port, written back, and the
// application learns where clients watch.
TEST_F(FileWriters, ADirectStreamOnAFreePortReportsWhereToWatch) {
  {
    ComPtr<IWMWriterNetworkSink> probe;
    if (WMCreateWriterNetworkSink(probe.Put()) == com::E_NOTIMPL) GTEST_SKIP() << "no network sink in this layer";
  }
  auto fk = Camera(false);
  fk->SetRecordingMethod(rm_Stream);
  fk->SetNetworkStreaming(ns_ASFDirectNetworkStreaming);
  fk->SetASFNetworkPort(0);
  QString url, host;
  uint16_t port = 0;
  fk->Events().OnDirectNetworkStreamingHostUrl = [&](QObject*, const QString& u, const QString& h, uint16_t p) {
    url = u;
    host = h;
    port = p;
  };
  ASSERT_TRUE(fk->StartRecording());
  EXPECT_NE(port, 0);
  EXPECT_EQ(fk->GetASFNetworkPort(), port);
  EXPECT_EQ(url, "mms://" + host + ":" + QString::number(port));
  fk->StopRecording();
  EXPECT_TRUE(QDir(workDir_.path()).entryList({"*.asf"}).isEmpty());
}

// The registered MPEG writer is listed among the video compressors; chosen there it replaces
// compressor and mux and writes an MPEG file that reads back.
TEST_F(FileWriters, TheMpegWriterChosenAsCompressorRecordsAReadableFile) {
  auto fk = Camera(true);
  const TDevices* list = VideoCompressorList();
  ASSERT_NE(list, nullptr);
  int index = -1;
  for (int i = 0; i < list->Count() && index < 0; ++i)
    if (list->Entry(i)->Manual && list->Entry(i)->ClassId == com::GuidToString(CLSID_MpegWriter)) index = i;
  ASSERT_GE(index, 0);
  EXPECT_EQ(list->Entry(index)->FriendlyName, "Kestrom MPEG Writer");
  fk->SetVideoCompressor(index);
  fk->SetCompressionMode(cm_CompressOnTheFly);
  fk->SetCompressionType(ct_AudioVideo);
  fk->SetCaptureFileExt("mpg");
  ASSERT_TRUE(fk->StartRecording());
  EXPECT_EQ(fk->MpegWriterIdentity(), com::GuidToString(CLSID_MpegWriter));
  EXPECT_EQ(FilterName(fk->FileWriter()), "Kestrom MPEG Writer");
  EXPECT_FALSE(LogHas("inserting video compressor"));
  EXPECT_FALSE(LogHas("inserting audio compressor"));
  QThread::msleep(800);
  fk->StopRecording();
  const QString file = fk->GetLastRecordedFile();
  EXPECT_TRUE(file.endsWith("fk000001.mpg")) << file.toStdString();
  media::VideoReader reader;
  ASSERT_TRUE(reader.Open(file)) << reader.ErrorString().toStdString();
  EXPECT_EQ(reader.Info().codec, "mpeg2video");
  EXPECT_GE(reader.Info().frameCount, 2);
  EXPECT_TRUE(reader.Info().hasAudio);
}

}  // namespace kestrom::engine::test
