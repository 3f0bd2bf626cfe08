#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/graph/GraphClasses.h"
#include "platform/dshow/sources/AnalogPins.h"
#include "platform/dshow/sources/Decoders.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"
#include "platform/dshow/sources/GraphInterfaces.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/sources/V4l2Tuner.h"
#include "platform/registry/Registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;

class V4l2Tuner : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.filePath("registry"));
  }
  void TearDown() override { registry::SetRegistryDirectory({}); }
  QTemporaryDir dir_;
};

TEST_F(V4l2Tuner, NoTunerIsMadeWithoutADeviceThatHasOne) {
  ComPtr<IBaseFilter> tuner;
  EXPECT_EQ(CreateV4l2Tuner(dir_.filePath("video9"), IID_IBaseFilter, tuner.PutVoid()), VFW_E_NOT_FOUND);
  EXPECT_FALSE(tuner);
  // A node that is no video device has no tuner either.
  QFile plain(dir_.filePath("plain"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  EXPECT_EQ(CreateV4l2Tuner(plain.fileName(), IID_IBaseFilter, tuner.PutVoid()), VFW_E_NOT_FOUND);
  // Test runs leave real cards alone, and only the tuner category lists tuners.
  EXPECT_TRUE(V4l2TunerEntries(AM_KSCATEGORY_TVTUNER).empty());
  EXPECT_TRUE(V4l2TunerEntries(CLSID_VideoInputDeviceCategory).empty());
}

TEST_F(V4l2Tuner, ATunerWhoseCardIsGoneKeepsItsSettingsAndFailsItsDeviceCalls) {
  const QString path = dir_.filePath("video0");
  ComPtr<IAMTVTuner> tuner;
  ASSERT_EQ(CreateV4l2TunerOn(-1, path, 0, IID_IAMTVTuner, tuner.PutVoid()), S_OK);

  // Settings held by the filter.
  EXPECT_EQ(tuner->put_CountryCode(49), S_OK);
  EXPECT_EQ(tuner->put_TuningSpace(49), S_OK);
  EXPECT_EQ(tuner->put_InputType(0, TunerInputAntenna), S_OK);
  EXPECT_EQ(tuner->put_InputType(1, TunerInputAntenna), E_INVALIDARG);
  LONG value = 0;
  TunerInputType input = TunerInputCable;
  EXPECT_EQ(tuner->get_CountryCode(&value), S_OK);
  EXPECT_EQ(value, 49);
  EXPECT_EQ(tuner->get_TuningSpace(&value), S_OK);
  EXPECT_EQ(value, 49);
  EXPECT_EQ(tuner->get_InputType(0, &input), S_OK);
  EXPECT_EQ(input, TunerInputAntenna);
  EXPECT_EQ(tuner->get_NumInputConnections(&value), S_OK);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(tuner->get_ConnectInput(&value), S_OK);
  EXPECT_EQ(value, 0);
  LONG min = 0, max = 0;
  EXPECT_EQ(tuner->ChannelMinMax(&min, &max), S_OK);
  EXPECT_EQ(min, 2);
  EXPECT_EQ(max, 69);

  // A channel the plan does not have is refused before the device is asked; one it has fails
  // with the device, and the tuner stays on its channel.
  EXPECT_EQ(tuner->put_Channel(15, -1, -1), E_INVALIDARG);
  EXPECT_EQ(tuner->put_Channel(21, -1, -1), VFW_E_NO_CAPTURE_HARDWARE);
  LONG channel = -5, videoSub = 0, audioSub = 0;
  EXPECT_EQ(tuner->get_Channel(&channel, &videoSub, &audioSub), S_OK);
  EXPECT_EQ(channel, 0);

  LONG found = 7;
  AMTunerModeType mode{};
  EXPECT_EQ(tuner->SignalPresent(&value), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(tuner->GetAvailableModes(&value), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(tuner->get_Mode(&mode), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(tuner->put_Mode(AMTUNER_MODE_TV), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(tuner->get_AvailableTVFormats(&value), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(tuner->get_TVFormat(&value), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(tuner->get_VideoFrequency(&value), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(tuner->get_AudioFrequency(&value), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(tuner->AutoTune(21, &found), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(tuner->StoreAutoTune(), VFW_E_NO_CAPTURE_HARDWARE);

  // It is a tuner, wired to the capture filter of its node, and nothing else.
  ComPtr<IUnknown> other;
  EXPECT_EQ(tuner->QueryInterface(IID_IAMTuner, other.PutVoid()), S_OK);
  EXPECT_EQ(tuner->QueryInterface(IID_IAMCrossbar, other.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(tuner->QueryInterface(IID_IAMAnalogVideoDecoder, other.PutVoid()), E_NOINTERFACE);
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(tuner->QueryInterface(IID_IBaseFilter, filter.PutVoid()), S_OK);
  ComPtr<IPin> out;
  ASSERT_EQ(filter->FindPin(u"Analog Video", out.Put()), S_OK);
  REGPINMEDIUM medium{};
  ASSERT_TRUE(PinMedium(out.Get(), &medium));
  EXPECT_TRUE(SameMedium(medium, V4l2TunerMedium(path)));
  EXPECT_FALSE(SameMedium(medium, V4l2TunerMedium(dir_.filePath("video1"))));
}

TEST_F(V4l2Tuner, ChannelsBecomeFrequenciesOfThePlanOrOfTheStoredTuning) {
  const struct {
    LONG country;
    TunerInputType input;
    LONG channel;
    LONG hz;
  } plans[] = {
      {49, TunerInputAntenna, 21, 471250000}, {49, TunerInputAntenna, 2, 48250000},  {49, TunerInputCable, 12, 224250000},
      {49, TunerInputAntenna, 15, 0},         {1, TunerInputAntenna, 14, 471250000}, {1, TunerInputCable, 14, 121250000},
      {1, TunerInputCable, 1, 73250000},      {1, TunerInputAntenna, 1, 0},          {81, TunerInputAntenna, 1, 91250000},
  };
  for (const auto& p : plans)
    EXPECT_EQ(TunerChannelFrequency(p.country, p.country, p.input, p.channel), p.hz) << p.country << " " << p.channel;

  registry::TRegistry reg(registry::HKEY_LOCAL_MACHINE);
  // An override of one channel for the override space of Germany, antenna.
  ASSERT_TRUE(reg.OpenKey(TunerFrequencyKey(99990049, TunerInputAntenna), true));
  EXPECT_TRUE(reg.CurrentPath().endsWith("TVAutoTune\\TS99990049-0"));
  ASSERT_TRUE(reg.WriteInteger("21", 474000000));
  reg.CloseKey();
  EXPECT_EQ(TunerChannelFrequency(99990049, 49, TunerInputAntenna, 21), 474000000);
  EXPECT_EQ(TunerChannelFrequency(99990049, 49, TunerInputAntenna, 22), 479250000);
  EXPECT_EQ(TunerChannelFrequency(49, 49, TunerInputAntenna, 21), 471250000);
  // Auto-tune pairs of the cable input: three pairs in 24 bytes.
  ASSERT_TRUE(reg.OpenKey(TunerFrequencyKey(49, TunerInputCable), true));
  const int32_t pairs[6] = {5, 175500000, 6, 182250000, 7, 189000000};
  ASSERT_TRUE(reg.WriteBinaryData("AutoTune", pairs, sizeof pairs));
  EXPECT_EQ(TunerChannelFrequency(49, 49, TunerInputCable, 7), 189000000);
  EXPECT_EQ(TunerChannelFrequency(49, 49, TunerInputCable, 8), 196250000);
}

TEST_F(V4l2Tuner, GraphFiltersAnswerOnlyTheInterfacesTheyHave) {
  graph::EnsureGraphClassesRegistered();
  ASSERT_EQ(RegisterSourceFilters(), S_OK);
  const struct {
    const CLSID* clsid;
    const IID* has;
    std::vector<const IID*> lacks;
  } cases[] = {
      {&CLSID_DVSplitter, &IID_IDVSplitter, {&IID_IIPDVDec, &IID_IDVRGB219, &IID_IMpeg2Demultiplexer, &IID_IFileSourceFilter}},
      {&CLSID_DVVideoCodec, &IID_IIPDVDec, {&IID_IDVSplitter, &IID_IMpeg2Demultiplexer, &IID_IAMStreamConfig}},
      {&CLSID_DVVideoCodec, &IID_IDVRGB219, {}},
      {&CLSID_MPEG2Demultiplexer, &IID_IMpeg2Demultiplexer, {&IID_IDVSplitter, &IID_IIPDVDec, &IID_IMPEG2StreamIdMap, &IID_IAMTVTuner}},
  };
  for (const auto& c : cases) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid()), S_OK);
    ComPtr<IUnknown> answer;
    EXPECT_EQ(filter->QueryInterface(*c.has, answer.PutVoid()), S_OK);
    for (const IID* lacked : c.lacks) {
      EXPECT_EQ(filter->QueryInterface(*lacked, answer.PutVoid()), E_NOINTERFACE);
      EXPECT_FALSE(answer);
    }
  }
  // A program stream output maps stream ids, not transport PIDs.
  ComPtr<IMpeg2Demultiplexer> demux;
  ASSERT_EQ(CoCreateInstance(CLSID_MPEG2Demultiplexer, nullptr, CLSCTX_INPROC_SERVER, IID_IMpeg2Demultiplexer, demux.PutVoid()), S_OK);
  CMediaType type;
  type.SetType(MEDIATYPE_Video);
  char16_t name[] = u"Video Out";
  ComPtr<IPin> pin;
  ASSERT_EQ(demux->CreateOutputPin(&type, name, pin.Put()), S_OK);
  ComPtr<IUnknown> map;
  EXPECT_EQ(pin->QueryInterface(IID_IMPEG2PIDMap, map.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(pin->QueryInterface(IID_IMPEG2StreamIdMap, map.PutVoid()), S_OK);
}

}  // namespace
}  // namespace kestrom::dshow
