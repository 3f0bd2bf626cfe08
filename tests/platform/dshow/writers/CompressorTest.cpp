// The compressors as the capture engine meets them: listed by name, configured through their
// interfaces, and offering the stored types a recording keeps.
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterMapper.h"
#include "platform/dshow/writers/FfmpegTypes.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/writers/WriterRig.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

class Compressors : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.path());
    ASSERT_EQ(RegisterWriterFilters(), S_OK);
    graph_ = MakeFilter<CEventGraph>();
  }
  void TearDown() override {
    graph_.Reset();
    registry::SetRegistryDirectory({});
  }
  // The compressor's output type once a source of the given type feeds it.
  CMediaType OutputType(REFCLSID clsid, const CMediaType& input, ComPtr<IBaseFilter>* filter = nullptr) {
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.PutVoid()), S_OK);
    auto source = MakeFilter<CTestSource>(input);
    sources_.push_back(source);
    EXPECT_TRUE(SUCCEEDED(graph_->AddFilter(source.Get(), nullptr)));
    EXPECT_TRUE(SUCCEEDED(graph_->AddFilter(f.Get(), nullptr)));
    EXPECT_EQ(graph_->ConnectDirect(source->Output(), PinOf(f.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(f->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(config->GetFormat(&type), S_OK);
    CMediaType result = type ? CMediaType(*type) : CMediaType();
    if (type) DeleteMediaType(type);
    if (filter) *filter = f;
    return result;
  }

  QTemporaryDir dir_;
  ComPtr<CEventGraph> graph_;
  std::vector<ComPtr<CTestSource>> sources_;
};

TEST_F(Compressors, AreListedInTheirCategoriesUnderTheNamesTheCaptureProgramLooksFor) {
  auto names = [](const std::vector<RegisteredFilter>& filters) {
    QStringList list;
    for (const RegisteredFilter& f : filters) list << f.name;
    return list;
  };
  const QStringList video = names(ReadRegisteredFilters(MakeGuid("{33D9A760-90C8-11D0-BD43-00A0C911CE86}")));
  const QStringList audio = names(ReadRegisteredFilters(MakeGuid("{33D9A761-90C8-11D0-BD43-00A0C911CE86}")));
  EXPECT_TRUE(video.contains("Microsoft MPEG-4 Video Codec V2")) << video.join(", ").toStdString();
  EXPECT_TRUE(audio.contains("Microsoft ADPCM")) << audio.join(", ").toStdString();
  EXPECT_EQ(video.size(), int(VideoCompressors().size()));
  EXPECT_EQ(audio.size(), int(AudioCompressors().size()));
  // Never chosen by automatic connection: they are not in the filter category.
  for (const RegisteredFilter& f : ReadRegisteredFilters())
    EXPECT_FALSE(video.contains(f.name) || audio.contains(f.name)) << f.name.toStdString();
}

TEST_F(Compressors, VideoOutputTypesCarryTheirFourccAndFollowTheSettings) {
  struct Case {
    CLSID clsid;
    uint32_t fourcc;
    bool temporal;
  };
  for (const Case& c : {Case{CLSID_Mpeg4V2Compressor, Fourcc('M', 'P', '4', '2'), true},
                        Case{CLSID_MjpegCompressor, Fourcc('M', 'J', 'P', 'G'), false},
                        Case{CLSID_Wmv2Compressor, Fourcc('W', 'M', 'V', '2'), true},
                        Case{CLSID_DvCompressor, Fourcc('d', 'v', 's', 'd'), false}}) {
    const CMediaType out = OutputType(c.clsid, MakeRgbVideoType(24, 720, 576, 400000));
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(out);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->biCompression, c.fourcc);
    EXPECT_EQ(out.subtype, FourccSubtype(c.fourcc));
    EXPECT_EQ(h->biWidth, 720);
    EXPECT_EQ(h->biHeight, 576);
    EXPECT_EQ(out.bTemporalCompression != 0, c.temporal);
  }
  // DV takes only its own frame sizes.
  ComPtr<IBaseFilter> dv;
  ASSERT_EQ(CoCreateInstance(CLSID_DvCompressor, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, dv.PutVoid()), S_OK);
  EXPECT_EQ(PinOf(dv.Get(), PINDIR_INPUT)->QueryAccept(&static_cast<const AM_MEDIA_TYPE&>(MakeRgbVideoType(24, 320, 240, 400000))),
            S_FALSE);

  ComPtr<IBaseFilter> mp42;
  OutputType(CLSID_Mpeg4V2Compressor, MakeRgbVideoType(24, 320, 240, 333667), &mp42);
  ComPtr<IAMVideoCompression> compression;
  ASSERT_EQ(mp42->QueryInterface(IID_IAMVideoCompression, compression.PutVoid()), S_OK);
  EXPECT_EQ(compression->put_Quality(0.5), S_OK);
  EXPECT_EQ(compression->put_Quality(1.5), E_INVALIDARG);
  EXPECT_EQ(compression->put_KeyFrameRate(50), S_OK);
  double quality = 0;
  LONG keyFrames = 0, caps = 0;
  ASSERT_EQ(compression->get_Quality(&quality), S_OK);
  ASSERT_EQ(compression->get_KeyFrameRate(&keyFrames), S_OK);
  EXPECT_EQ(quality, 0.5);
  EXPECT_EQ(keyFrames, 50);
  ASSERT_EQ(compression->GetInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &caps), S_OK);
  EXPECT_TRUE(caps & CompressionCaps_CanQuality);
  EXPECT_TRUE(caps & CompressionCaps_CanKeyFrame);

  // The data rate is set through the output format; the frame size is not the compressor's to change.
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(mp42->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  ASSERT_EQ(config->GetFormat(&type), S_OK);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
  EXPECT_EQ(vih->AvgTimePerFrame, 333667);
  vih->dwBitRate = 800000;
  EXPECT_EQ(config->SetFormat(type), S_OK);
  vih->bmiHeader.biWidth = 640;
  EXPECT_EQ(config->SetFormat(type), VFW_E_INVALIDMEDIATYPE);
  DeleteMediaType(type);
  ASSERT_EQ(config->GetFormat(&type), S_OK);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->dwBitRate, 800000u);
  DeleteMediaType(type);
}

TEST_F(Compressors, AdpcmOutputIsAWaveFormatWithItsCoefficients) {
  const CMediaType out = OutputType(CLSID_AdpcmCompressor, PcmType(22050, 1));
  const WAVEFORMATEX* wf = WaveFormat(out);
  ASSERT_NE(wf, nullptr);
  EXPECT_EQ(wf->wFormatTag, WAVE_FORMAT_ADPCM);
  EXPECT_EQ(wf->nChannels, 1);
  EXPECT_EQ(wf->nSamplesPerSec, 22050u);
  EXPECT_EQ(wf->nBlockAlign, 512);
  EXPECT_EQ(wf->wBitsPerSample, 4);
  // Samples per block, the number of coefficient pairs (7) and the pairs themselves.
  ASSERT_EQ(wf->cbSize, 32);
  ASSERT_GE(out.cbFormat, sizeof(WAVEFORMATEX) + 32);
  const BYTE* extra = out.pbFormat + sizeof(WAVEFORMATEX);
  EXPECT_EQ(extra[0] | (extra[1] << 8), (512 - 7) * 2 + 2);
  EXPECT_EQ(extra[2] | (extra[3] << 8), 7);
  EXPECT_EQ(wf->nAvgBytesPerSec, 22050u * 512 / 1012);

  const CMediaType wma = OutputType(CLSID_Wmav2Compressor, PcmType(44100, 2));
  ASSERT_NE(WaveFormat(wma), nullptr);
  EXPECT_EQ(WaveFormat(wma)->wFormatTag, WAVE_FORMAT_WMAUDIO2);
  EXPECT_EQ(WaveFormat(wma)->nChannels, 2);
}

}  // namespace
}  // namespace kestrom::dshow
