#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/GraphInterfaces.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/sources/ScriptSource.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/sources/Collector.h"
#include "tests/platform/dshow/sources/FrameReading.h"
#include "tools/ClipWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

ComPtr<IPin> PinAt(IBaseFilter* filter, int index) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  pins->Skip(static_cast<ULONG>(index));
  ComPtr<IPin> pin;
  ULONG fetched = 0;
  pins->Next(1, pin.Put(), &fetched);
  return pin;
}

class ScriptSource : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.filePath("registry"));
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
    tools::ClipSpec clipSpec;
    clipSpec.path = dir_.filePath("clip.avi");
    clipSpec.codec = "mjpeg";
    clipSpec.size = {320, 240};
    clipSpec.frames = 30;
    clipSpec.audio = true;
    QString error;
    ASSERT_TRUE(tools::WriteClip(clipSpec, &error)) << error.toStdString();
  }
  void TearDown() override { registry::SetRegistryDirectory({}); }

  QString WriteScript(const QByteArray& text) {
    const QString path = dir_.filePath("Input.avs");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    return path;
  }

  QTemporaryDir dir_;
};

TEST_F(ScriptSource, DeliversTheScriptsFramesDecodedAndItsSound) {
  tools::ClipSpec planarSpec;
  planarSpec.path = dir_.filePath("planar.avi");
  planarSpec.size = {320, 240};
  planarSpec.frames = 30;
  planarSpec.audio = true;
  QString error;
  ASSERT_TRUE(tools::WriteClip(planarSpec, &error)) << error.toStdString();
  // Planar 4:2:0 pictures pass as decoded; full-range (JPEG) ones are converted on the way.
  const struct {
    const char* clip;
    const GUID* subtype;
  } cases[] = {{"clip.avi", &MEDIASUBTYPE_YUY2}, {"clip.avi", &MEDIASUBTYPE_I420}, {"planar.avi", &MEDIASUBTYPE_I420}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clip);
    SCOPED_TRACE(*c.subtype == MEDIASUBTYPE_I420 ? "I420" : "YUY2");
    const QString script = WriteScript("AVISource(\"" + dir_.filePath(c.clip).toUtf8() + "\")\r\nTrim(5, 14)\r\n");
    ComPtr<IBaseFilter> source;
    ASSERT_EQ(CoCreateInstance(CLSID_KestromScriptSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid()), S_OK);
    ComPtr<IFileSourceFilter> file;
    ASSERT_EQ(source->QueryInterface(IID_IFileSourceFilter, file.PutVoid()), S_OK);
    ASSERT_EQ(file->Load(reinterpret_cast<LPCWSTR>(script.utf16()), nullptr), S_OK);

    const GUID subtype = *c.subtype;
    auto* v = new CCollector([subtype](const CMediaType& mt) { return mt.subtype == subtype; });
    v->NonDelegatingAddRef();
    auto video = ComPtr<CCollector>::Attach(v);
    auto* a = new CCollector();
    a->NonDelegatingAddRef();
    auto audio = ComPtr<CCollector>::Attach(a);
    ASSERT_EQ(PinAt(source.Get(), 0)->Connect(video->Input(), nullptr), S_OK);
    ComPtr<IPin> soundPin = PinAt(source.Get(), 1);
    ASSERT_TRUE(soundPin);
    ASSERT_EQ(soundPin->Connect(audio->Input(), nullptr), S_OK);
    EXPECT_TRUE(audio->Type().subtype == MEDIASUBTYPE_PCM);

    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(source->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), S_OK);
    ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
    LONGLONG frames = 0;
    ASSERT_EQ(seeking->GetDuration(&frames), S_OK);
    EXPECT_EQ(frames, 10);

    video->Pause();
    audio->Pause();
    ASSERT_EQ(source->Pause(), S_OK);
    ASSERT_TRUE(video->WaitForEndOfStream());
    ASSERT_TRUE(audio->WaitForEndOfStream());
    source->Stop();
    video->Stop();
    audio->Stop();

    const auto pictures = video->Samples();
    ASSERT_EQ(pictures.size(), 10u);
    for (size_t i = 0; i < pictures.size(); ++i) EXPECT_EQ(ReadNumber(video->Type(), pictures[i].bytes), int(5 + i));
    size_t soundBytes = 0;
    for (const auto& s : audio->Samples()) soundBytes += s.bytes.size();
    // 10 frames of 25 per second: 0.4 s of 22050 Hz mono 16-bit sound.
    EXPECT_NEAR(double(soundBytes), 0.4 * 22050 * 2, 2 * 22050 * 0.05);

    PinAt(source.Get(), 0)->Disconnect();
    video->Input()->Disconnect();
    soundPin->Disconnect();
    audio->Input()->Disconnect();
  }
}

TEST_F(ScriptSource, RefusesAScriptItCannotRun) {
  const QString script = WriteScript("Blur(1.0)\r\n");
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(CoCreateInstance(CLSID_KestromScriptSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid()), S_OK);
  ComPtr<IFileSourceFilter> file;
  ASSERT_EQ(source->QueryInterface(IID_IFileSourceFilter, file.PutVoid()), S_OK);
  EXPECT_EQ(file->Load(reinterpret_cast<LPCWSTR>(script.utf16()), nullptr), VFW_E_INVALID_FILE_FORMAT);
}

}  // namespace
}  // namespace kestrom::dshow
