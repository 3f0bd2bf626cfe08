// Network streaming of the ASF writer, as the recording graph uses it: the live test camera into
// the ASF writer with a network sink, watched by FFmpeg over MMS over HTTP and over plain HTTP,
// and pushed to FFmpeg listening as a publishing point. The camera's pictures carry their frame
// numbers, so what a client decodes shows whether it followed the live stream in order.
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/AsfNetworkSinks.h"
#include "platform/dshow/writers/AsfWriter.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/media/VideoReader.h"
#include "platform/registry/Registry.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using Clock = std::chrono::steady_clock;

// ---- a bare HTTP client ----

class Connection {
 public:
  /** @brief receiveBuffer: the socket's receive buffer in bytes (0: the system's). */
  explicit Connection(DWORD port, int receiveBuffer = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Connection() {
    if (fd_ >= 0) close(fd_);
  }
  bool Connected() const { return connected_; }
  void Send(const std::string& text) {
    ASSERT_EQ(send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
  }
  /** @brief Reads until at least `bytes` have come, the peer closes or the time is up. */
  const std::string& Read(size_t bytes, int ms = 3000) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (received_.size() < bytes && Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buffer[4096];
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        closed_ = true;
        break;
      }
      received_.append(buffer, size_t(n));
    }
    return received_;
  }
  /** @brief Reads until the body has at least `bytes`. */
  const std::string& ReadBody(size_t bytes, int ms = 3000) {
    for (const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms); Body().size() < bytes && !closed_ && Clock::now() < end;)
      Read(received_.size() + 1, 50);
    return received_;
  }
  /** @brief Reads on until the peer closes (within the time). */
  bool ClosedByPeer(int ms = 2000) {
    for (const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms); !closed_ && Clock::now() < end;)
      Read(received_.size() + 1, 50);
    return closed_;
  }
  /** @brief What came after the response head. */
  std::string Body() const {
    const size_t end = received_.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : received_.substr(end + 4);
  }

 private:
  int fd_ = -1;
  bool connected_ = false, closed_ = false;
  std::string received_;
};

/** @brief A loopback port free a moment ago (0 when none was had). */
int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  const bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0;
  if (fd >= 0) close(fd);
  return bound ? ntohs(a.sin_port) : 0;
}

ComPtr<IWMWriterNetworkSink> OpenNetworkSink(DWORD* port, DWORD maxClients) {
  IWMWriterNetworkSink* raw = nullptr;
  EXPECT_EQ(WMCreateWriterNetworkSink(&raw), S_OK);
  ComPtr<IWMWriterNetworkSink> sink = ComPtr<IWMWriterNetworkSink>::Attach(raw);
  if (!sink) return sink;
  EXPECT_EQ(sink->SetNetworkProtocol(WMT_PROTOCOL_HTTP), S_OK);
  EXPECT_EQ(sink->SetMaximumClients(maxClients), S_OK);
  EXPECT_EQ(sink->Open(port), S_OK);
  return sink;
}

/** @brief A chunk of MMS over HTTP: "$" and its kind, length, sequence number, flags, length. */
std::string MmsChunk(char kind, uint32_t sequence, uint16_t flags, const std::string& payload) {
  std::string chunk{'$', kind};
  const uint16_t length = uint16_t(payload.size() + 8);
  auto le16 = [&](uint16_t v) {
    chunk += char(v & 0xFF);
    chunk += char(v >> 8);
  };
  le16(length);
  for (int i = 0; i < 4; ++i) chunk += char((sequence >> (8 * i)) & 0xFF);
  le16(flags);
  le16(length);
  return chunk + payload;
}

const BYTE* Data(const std::string& s) { return reinterpret_cast<const BYTE*>(s.data()); }

// The sink on its own, fed by hand: answers, framing, late clients and the limits.
TEST(NetworkStreamingSinks, ServesHeaderThenDataFromTheNextKeyFrameInTheFramingEachClientAsksFor) {
  DWORD port = 0;
  ComPtr<IWMWriterNetworkSink> sink = OpenNetworkSink(&port, 2);
  ASSERT_TRUE(sink);
  ASSERT_NE(port, 0u);
  DWORD chars = 0;
  ASSERT_EQ(sink->GetHostURL(nullptr, &chars), S_OK);
  std::u16string url(chars, u'\0');
  ASSERT_EQ(sink->GetHostURL(url.data(), &chars), S_OK);
  const QString host = QString::fromUtf16(url.c_str());
  EXPECT_TRUE(host.startsWith("http://")) << host.toStdString();
  EXPECT_TRUE(host.endsWith(QStringLiteral(":%1").arg(port))) << host.toStdString();

  // A client before the stream starts is answered and waits for the header.
  Connection early(port);
  ASSERT_TRUE(early.Connected());
  early.Send("GET / HTTP/1.0\r\nUser-Agent: test\r\n\r\n");
  EXPECT_EQ(early.Read(12).substr(0, 12), "HTTP/1.0 200");

  const std::string header = "HEADER", before = "p0", key = "k1", after = "p2";
  ASSERT_EQ(sink->OnHeader(Data(header), DWORD(header.size())), S_OK);
  ASSERT_EQ(sink->OnDataUnit(Data(before), 2, FALSE), S_OK);
  ASSERT_EQ(sink->OnDataUnit(Data(key), 2, TRUE), S_OK);
  early.ReadBody(header.size() + key.size());  // it has it all before the late client comes

  // A late MMS client asking to play: the header in a $H chunk, then $D chunks from a key frame.
  Connection late(port);
  late.Send("GET / HTTP/1.0\r\nUser-Agent: NSPlayer/4.1.0.3856\r\nPragma: xClientGUID={00000000-0000-0000-0000-000000000000}\r\n"
            "Pragma: xPlayStrm=1\r\n\r\n");
  late.ReadBody(12 + header.size());
  ASSERT_EQ(sink->OnDataUnit(Data(after), 2, FALSE), S_OK);
  ASSERT_EQ(sink->OnDataUnit(Data(key), 2, TRUE), S_OK);
  ASSERT_EQ(sink->OnDataUnit(Data(after), 2, FALSE), S_OK);
  const std::string expectedMms = MmsChunk('H', 0, 0x0C00, header) + MmsChunk('D', 1, 0, key) + MmsChunk('D', 2, 0, after);
  late.ReadBody(expectedMms.size());
  EXPECT_EQ(late.Body(), expectedMms);

  // The plain client has had everything since the key frame it started on.
  early.ReadBody(header.size() + 4 * key.size());
  EXPECT_EQ(early.Body(), header + key + after + key + after);

  // A third client is beyond the maximum.
  Connection third(port);
  third.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(third.Read(12).substr(0, 12), "HTTP/1.0 503");
  EXPECT_TRUE(third.ClosedByPeer());

  // The end of writing closes the streams.
  ASSERT_EQ(sink->OnEndWriting(), S_OK);
  EXPECT_TRUE(early.ClosedByPeer());
  EXPECT_TRUE(late.ClosedByPeer());
  EXPECT_EQ(sink->Close(), S_OK);
}

TEST(NetworkStreamingSinks, RefusesBadRequestsAndAPortInUse) {
  DWORD port = 0;
  ComPtr<IWMWriterNetworkSink> sink = OpenNetworkSink(&port, 5);
  ASSERT_TRUE(sink);

  struct Case {
    const char* what;
    std::string request;
    const char* status;
  };
  const Case cases[] = {
      {"over 8 KB", "GET / HTTP/1.0\r\nX-Fill: " + std::string(9000, 'a'), "HTTP/1.0 431"},
      {"not a GET", "POST / HTTP/1.0\r\n\r\n", "HTTP/1.0 405"},
      {"not HTTP", "HELLO\r\n\r\n", "HTTP/1.0 400"},
  };
  for (const Case& c : cases) {
    Connection client(port);
    ASSERT_TRUE(client.Connected()) << c.what;
    client.Send(c.request);
    EXPECT_EQ(client.Read(12).substr(0, 12), c.status) << c.what;
    EXPECT_TRUE(client.ClosedByPeer()) << c.what;
  }

  // No silent other port.
  IWMWriterNetworkSink* raw = nullptr;
  ASSERT_EQ(WMCreateWriterNetworkSink(&raw), S_OK);
  ComPtr<IWMWriterNetworkSink> second = ComPtr<IWMWriterNetworkSink>::Attach(raw);
  DWORD same = port;
  EXPECT_TRUE(FAILED(second->Open(&same)));
  EXPECT_EQ(same, port);
  DWORD chars = 0;
  EXPECT_TRUE(FAILED(second->GetHostURL(nullptr, &chars)));
}

TEST(NetworkStreamingSinks, RefusesARequestNotWholeAfterFiveSeconds) {
  DWORD port = 0;
  ComPtr<IWMWriterNetworkSink> sink = OpenNetworkSink(&port, 5);
  ASSERT_TRUE(sink);
  Connection slow(port);
  slow.Send("GET / HTTP/1.0\r\n");
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(slow.Read(12, 7000).substr(0, 12), "HTTP/1.0 408");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(4500));
}

TEST(NetworkStreamingSinks, DropsAClientTenSecondsBehindAndNeverHoldsTheWriterUp) {
  DWORD port = 0;
  ComPtr<IWMWriterNetworkSink> sink = OpenNetworkSink(&port, 5);
  ASSERT_TRUE(sink);
  Connection stuck(port, 4096);
  stuck.Send("GET / HTTP/1.0\r\n\r\n");
  ASSERT_EQ(stuck.Read(12).substr(0, 12), "HTTP/1.0 200");
  const std::string header = "HEADER", burst(256 * 1024, 'b'), unit(64 * 1024, 'u');
  ASSERT_EQ(sink->OnHeader(Data(header), DWORD(header.size())), S_OK);
  // More than the sockets hold at once, then five units a second; the client takes none.
  Clock::duration longest{};
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < 32; ++i) ASSERT_EQ(sink->OnDataUnit(Data(burst), DWORD(burst.size()), TRUE), S_OK);
  while (Clock::now() - start < std::chrono::milliseconds(11500)) {
    const Clock::time_point before = Clock::now();
    ASSERT_EQ(sink->OnDataUnit(Data(unit), DWORD(unit.size()), TRUE), S_OK);
    longest = std::max(longest, Clock::now() - before);
    QThread::msleep(200);
  }
  EXPECT_LT(longest, std::chrono::seconds(1));  // waiting for the client would take seconds
  EXPECT_TRUE(stuck.ClosedByPeer(5000));
}

TEST(NetworkStreamingSinks, AnUnreachablePublishingPointFailsConnect) {
  const int port = FreeLoopbackPort();  // nobody listens on it
  ASSERT_GT(port, 0);

  IWMWriterPushSink* raw = nullptr;
  ASSERT_EQ(WMCreateWriterPushSink(&raw), S_OK);
  ComPtr<IWMWriterPushSink> sink = ComPtr<IWMWriterPushSink>::Attach(raw);
  for (const QString& url : {QStringLiteral("http://127.0.0.1:%1/YourPublishingPoint").arg(port),
                             QStringLiteral("mms://127.0.0.1:%1/YourPublishingPoint").arg(port), QStringLiteral("ftp://127.0.0.1/x")})
    EXPECT_TRUE(FAILED(sink->Connect(reinterpret_cast<LPCWSTR>(url.utf16()), nullptr, TRUE))) << url.toStdString();
  // Nothing connected: what the writer hands it is dropped without a fault.
  EXPECT_EQ(sink->OnHeader(reinterpret_cast<const BYTE*>("h"), 1), S_OK);
  EXPECT_EQ(sink->OnEndWriting(), S_OK);
}

// A publishing point of our own on the default URL's port: the request and the chunked body.
TEST(NetworkStreamingSinks, AnEmptyUrlPostsChunkedToTheDefaultPublishingPoint) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(8080);
  if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1) != 0) {
    close(listener);
    GTEST_SKIP() << "port 8080 is taken on this machine";
  }
  std::string received;
  std::thread point([&] {
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return;
    const int fd = accept(listener, nullptr, nullptr);
    char buffer[4096];
    for (bool answered = false;;) {
      pollfd q{fd, POLLIN, 0};
      if (poll(&q, 1, 5000) != 1) break;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received.append(buffer, size_t(n));
      if (!answered && received.find("\r\n\r\n") != std::string::npos) {
        answered = true;
        send(fd, "HTTP/1.1 200 OK\r\n\r\n", 19, MSG_NOSIGNAL);
      }
    }
    close(fd);
  });
  IWMWriterPushSink* raw = nullptr;
  ASSERT_EQ(WMCreateWriterPushSink(&raw), S_OK);
  ComPtr<IWMWriterPushSink> sink = ComPtr<IWMWriterPushSink>::Attach(raw);
  EXPECT_EQ(sink->Connect(u"", nullptr, TRUE), S_OK);
  EXPECT_EQ(sink->OnHeader(reinterpret_cast<const BYTE*>("HEADER"), 6), S_OK);
  const std::string unit(300, 'd');
  EXPECT_EQ(sink->OnDataUnit(Data(unit), DWORD(unit.size()), TRUE), S_OK);
  EXPECT_EQ(sink->OnEndWriting(), S_OK);
  point.join();
  close(listener);
  EXPECT_EQ(received.substr(0, received.find("\r\n")), "POST /YourPublishingPoint HTTP/1.1");
  EXPECT_NE(received.find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos);
  const size_t body = received.find("\r\n\r\n");
  ASSERT_NE(body, std::string::npos);
  EXPECT_EQ(received.substr(body + 4), "6\r\nHEADER\r\n12c\r\n" + unit + "\r\n0\r\n\r\n");
}

// ---- the writer in a graph ----

constexpr REFERENCE_TIME kInterval = 400000;  // 25 frames a second

class NetworkStreaming : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    registryDir_ = new QTemporaryDir;
    ASSERT_TRUE(registryDir_->isValid());
    registry::SetRegistryDirectory(registryDir_->path());
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
    ASSERT_EQ(RegisterWriterFilters(), S_OK);
  }
  static void TearDownTestSuite() {
    registry::SetRegistryDirectory({});
    delete registryDir_;
    registryDir_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SetTestCameraPlugged(true);
    SetTestDevicesLive(true);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.PutVoid()), S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaControl, &control_), S_OK);
  }
  void TearDown() override {
    if (control_) control_->Stop();
    control_.Reset();
    graph_.Reset();
  }

  ComPtr<IBaseFilter> Add(REFCLSID clsid, const char16_t* name) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid()), S_OK);
    if (filter) {
      EXPECT_TRUE(SUCCEEDED(graph_->AddFilter(filter.Get(), name)));
    }
    return filter;
  }

  static ComPtr<IPin> PinNamed(IBaseFilter* filter, PIN_DIRECTION direction, const QString& name = {}) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put()))) return {};
    for (ComPtr<IPin> pin; pins->Next(1, pin.Put(), nullptr) == S_OK;) {
      PIN_INFO info{};
      pin->QueryPinInfo(&info);
      if (info.pFilter) info.pFilter->Release();
      if (info.dir == direction && (name.isEmpty() || QString::fromUtf16(info.achName) == name)) return pin;
    }
    return {};
  }

  /**
   * @brief Live camera (320x240 RGB24, 25 frames a second) -> ASF writer (the first system
   * profile, a key frame each second); the writer's IWMWriterAdvanced2.
   */
  ComPtr<IWMWriterAdvanced2> Build() {
    ComPtr<IBaseFilter> camera = Add(CLSID_KestromTestCamera, u"Video Capture");
    ComPtr<IPin> capture = PinNamed(camera.Get(), PINDIR_OUTPUT);
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(capture->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
    AM_MEDIA_TYPE* current = nullptr;
    EXPECT_EQ(config->GetFormat(&current), S_OK);
    CMediaType wanted(*current);
    DeleteMediaType(current);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(wanted.pbFormat);
    wanted.subtype = MEDIASUBTYPE_RGB24;
    vih->bmiHeader.biWidth = 320;
    vih->bmiHeader.biHeight = 240;
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biCompression = BI_RGB;
    vih->bmiHeader.biSizeImage = 320 * 240 * 3;
    wanted.lSampleSize = vih->bmiHeader.biSizeImage;
    vih->AvgTimePerFrame = kInterval;
    EXPECT_EQ(config->SetFormat(&wanted), S_OK);

    writer_ = Add(CLSID_WMAsfWriter, u"ASF Writer");
    IWMProfileManager* rawManager = nullptr;
    EXPECT_EQ(WMCreateProfileManager(&rawManager), S_OK);
    ComPtr<IWMProfileManager> manager = ComPtr<IWMProfileManager>::Attach(rawManager);
    ComPtr<IWMProfile> profile;
    EXPECT_EQ(manager->LoadSystemProfile(0, profile.Put()), S_OK);
    DWORD chars = 0;
    EXPECT_EQ(manager->SaveProfile(profile.Get(), nullptr, &chars), S_OK);
    std::u16string text(chars, u'\0');
    EXPECT_EQ(manager->SaveProfile(profile.Get(), text.data(), &chars), S_OK);
    const QString xml = QString::fromUtf16(text.c_str()).replace("maxkeyframespacing=\"80000000\"", "maxkeyframespacing=\"10000000\"");
    ComPtr<IWMProfile> edited;
    EXPECT_EQ(manager->LoadProfileByData(reinterpret_cast<LPCWSTR>(xml.utf16()), edited.Put()), S_OK);
    ComPtr<IConfigAsfWriter> asf;
    EXPECT_EQ(writer_->QueryInterface(IID_IConfigAsfWriter, asf.PutVoid()), S_OK);
    EXPECT_EQ(asf->ConfigureFilterUsingProfile(edited.Get()), S_OK);
    EXPECT_EQ(graph_->ConnectDirect(capture.Get(), PinNamed(writer_.Get(), PINDIR_INPUT, "Video409").Get(), nullptr), S_OK);

    ComPtr<IServiceProvider> provider;
    EXPECT_EQ(writer_->QueryInterface(IID_IServiceProvider, provider.PutVoid()), S_OK);
    ComPtr<IWMWriterAdvanced2> advanced;
    if (provider) {
      EXPECT_EQ(provider->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2, advanced.PutVoid()), S_OK);
    }
    return advanced;
  }

  void SetFileName(const QString& file) {
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(writer_->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()), S_OK);
    ASSERT_EQ(sink->SetFileName(reinterpret_cast<LPCWSTR>(file.utf16()), nullptr), S_OK);
  }

  /** @brief Runs FFmpeg with the arguments; its exit code (-1: did not end in time). */
  static int Ffmpeg(const QStringList& arguments, int ms, QProcess* process = nullptr) {
    QProcess own;
    QProcess& p = process ? *process : own;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-hide_banner", "-loglevel", "error", "-y"} + arguments);
    if (!p.waitForStarted(5000)) return -1;
    if (!p.waitForFinished(ms)) {
      p.kill();
      p.waitForFinished(2000);
      return -1;
    }
    return p.exitCode();
  }

  /** @brief The frame numbers on the pictures FFmpeg saved under a prefix. */
  std::vector<int> Codes(const QString& prefix) const {
    std::vector<int> codes;
    const QStringList files = QDir(dir_.path()).entryList({prefix + "*.png"}, QDir::Files, QDir::Name);
    for (const QString& f : files) codes.push_back(tools::ReadFrameCode(QImage(dir_.filePath(f))));
    return codes;
  }

  static void ExpectRising(const std::vector<int>& codes, const char* what) {
    ASSERT_GE(codes.size(), 5u) << what;
    EXPECT_GE(codes.front(), 0) << what;
    for (size_t i = 1; i < codes.size(); ++i) EXPECT_GT(codes[i], codes[i - 1]) << what << " at " << i;
  }

  static inline QTemporaryDir* registryDir_ = nullptr;
  QTemporaryDir dir_;
  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IBaseFilter> writer_;
};

TEST_F(NetworkStreaming, MmsAndLaterHttpClientsDecodeTheLiveStreamAndNoFileIsWritten) {
  ComPtr<IWMWriterAdvanced2> advanced = Build();
  ASSERT_TRUE(advanced);
  const QString file = dir_.filePath("stream.wmv");
  SetFileName(file);
  DWORD sinks = 0;
  ASSERT_EQ(advanced->GetSinkCount(&sinks), S_OK);
  ASSERT_EQ(sinks, 1u);  // the file
  ComPtr<IWMWriterSink> fileSink;
  ASSERT_EQ(advanced->GetSink(0, fileSink.Put()), S_OK);
  ASSERT_EQ(advanced->RemoveSink(fileSink.Get()), S_OK);

  DWORD port = 0;
  ComPtr<IWMWriterNetworkSink> network = OpenNetworkSink(&port, 3);
  ASSERT_TRUE(network);
  ASSERT_EQ(advanced->AddSink(network.Get()), S_OK);
  ASSERT_EQ(advanced->SetLiveSource(TRUE), S_OK);
  BOOL realTime = FALSE;
  EXPECT_EQ(advanced->IsRealTime(&realTime), S_OK);
  EXPECT_TRUE(realTime);

  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_EQ(advanced->AddSink(fileSink.Get()), VFW_E_NOT_STOPPED);
  // A client that connects and never reads holds nobody up.
  Connection idle(port);
  idle.Send("GET / HTTP/1.0\r\n\r\n");

  const QString base = QStringLiteral("127.0.0.1:%1/").arg(port);
  ASSERT_EQ(Ffmpeg({"-analyzeduration", "300000", "-i", "mmsh://" + base, "-fps_mode", "passthrough", "-frames:v", "8", dir_.filePath("mms%02d.png")}, 20000), 0);
  ASSERT_EQ(Ffmpeg({"-analyzeduration", "300000", "-i", "http://" + base, "-fps_mode", "passthrough", "-frames:v", "8", dir_.filePath("http%02d.png")}, 20000), 0);
  ASSERT_EQ(control_->Stop(), S_OK);

  const std::vector<int> mms = Codes("mms"), http = Codes("http");
  ExpectRising(mms, "mmsh");
  ExpectRising(http, "http");
  if (!mms.empty() && !http.empty()) {
    EXPECT_GT(http.front(), mms.front());
  }
  EXPECT_FALSE(QFile::exists(file));
}

TEST_F(NetworkStreaming, PushToAListeningPublishingPointGivesAReadableFileBesideTheRecording) {
  ComPtr<IWMWriterAdvanced2> advanced = Build();
  ASSERT_TRUE(advanced);
  const QString local = dir_.filePath("local.wmv");  // recorded beside the push
  SetFileName(local);

  const int port = FreeLoopbackPort();  // for FFmpeg to listen on
  ASSERT_GT(port, 0);

  const QString received = dir_.filePath("received.asf");
  QProcess server;
  server.setProcessChannelMode(QProcess::MergedChannels);
  server.start(QStringLiteral("ffmpeg"), {"-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-listen", "1", "-i",
                                          QStringLiteral("http://127.0.0.1:%1/YourPublishingPoint").arg(port), "-c", "copy", received});
  ASSERT_TRUE(server.waitForStarted(5000));

  IWMWriterPushSink* raw = nullptr;
  ASSERT_EQ(WMCreateWriterPushSink(&raw), S_OK);
  ComPtr<IWMWriterPushSink> push = ComPtr<IWMWriterPushSink>::Attach(raw);
  // An mms:// point is posted to as http, on the same host and port; FFmpeg listens shortly.
  const QString point = QStringLiteral("mms://127.0.0.1:%1/YourPublishingPoint").arg(port);
  HRESULT connected = E_FAIL;
  for (const Clock::time_point end = Clock::now() + std::chrono::seconds(10); FAILED(connected) && Clock::now() < end;) {
    connected = push->Connect(reinterpret_cast<LPCWSTR>(point.utf16()), nullptr, TRUE);
    if (FAILED(connected)) QThread::msleep(50);
  }
  ASSERT_EQ(connected, S_OK);
  ASSERT_EQ(advanced->AddSink(push.Get()), S_OK);
  ASSERT_EQ(advanced->SetLiveSource(TRUE), S_OK);

  ASSERT_EQ(control_->Run(), S_OK);
  QThread::msleep(2000);
  ASSERT_EQ(control_->Stop(), S_OK);
  ASSERT_TRUE(server.waitForFinished(10000)) << server.readAll().toStdString();
  EXPECT_EQ(server.exitCode(), 0) << server.readAll().toStdString();

  media::VideoReader reader;
  ASSERT_TRUE(reader.Open(received)) << reader.ErrorString().toStdString();
  EXPECT_EQ(reader.Info().codec, "wmv2");
  // Every frame as it was sent (the reader would fill the camera's dropped frames in by time).
  ASSERT_EQ(Ffmpeg({"-i", received, "-fps_mode", "passthrough", dir_.filePath("pushed%03d.png")}, 20000), 0);
  ExpectRising(Codes("pushed"), "pushed");
  ASSERT_EQ(Ffmpeg({"-i", local, "-fps_mode", "passthrough", dir_.filePath("local%03d.png")}, 20000), 0);
  ExpectRising(Codes("local"), "local");
  EXPECT_EQ(Codes("local").size(), Codes("pushed").size());
}

}  // namespace
}  // namespace kestrom::dshow
