#include "platform/dshow/sources/SourceClasses.h"

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/DecoderTable.h"
#include "platform/dshow/sources/Decoders.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"
#include "platform/dshow/sources/DvSplitter.h"
#include "platform/dshow/sources/FileSource.h"
#include "platform/dshow/sources/Mpeg2Demultiplexer.h"
#include "platform/dshow/sources/ScriptSource.h"
#include "platform/dshow/sources/StreamTypes.h"

#include <array>
#include <cctype>
#include <deque>
#include <utility>

namespace kestrom::dshow {


namespace {

uint32_t F(const char (&text)[5]) { return Fourcc(text[0], text[1], text[2], text[3]); }

const std::vector<DecoderClass>& Table() {
  static const std::vector<DecoderClass> table = {
      {&CLSID_Mpeg4V2VideoDecoder, u"MPEG-4 V2 Video Decoder", MEDIATYPE_Video, {F("MP42"), F("DIV2")}, MERIT_NORMAL},
      {&CLSID_Mpeg4VideoDecoder, u"MPEG-4 Video Decoder", MEDIATYPE_Video,
       {F("MP43"), F("DIV3"), F("MP41"), F("MPG4"), F("FMP4"), F("XVID"), F("DIVX"), F("DX50"), F("MP4V"), F("M4S2")}, MERIT_NORMAL},
      {&CLSID_MjpegVideoDecoder, u"MJPEG Video Decoder", MEDIATYPE_Video, {F("MJPG"), F("AVRN"), F("LJPG"), F("JPGL")}, MERIT_NORMAL},
      {&CLSID_DVVideoCodec, u"DV Video Decoder", MEDIATYPE_Video,
       {F("dvsd"), F("dvhd"), F("dvsl"), F("dv25"), F("dv50"), F("dvh1"), F("CDVC")}, MERIT_NORMAL},
      {&CLSID_WmvVideoDecoder, u"WMV Video Decoder", MEDIATYPE_Video, {F("WMV1"), F("WMV2"), F("WMV3"), F("WVC1")}, MERIT_NORMAL},
      {&CLSID_MpegVideoDecoder, u"MPEG Video Decoder", MEDIATYPE_Video, {F("MPG1"), F("MPG2"), F("MPEG"), F("PIM1"), F("MX5P")}, MERIT_NORMAL},
      {&CLSID_H264VideoDecoder, u"H.264 Video Decoder", MEDIATYPE_Video, {F("H264"), F("AVC1"), F("X264")}, MERIT_NORMAL},
      {&CLSID_LosslessVideoDecoder, u"Lossless Video Decoder", MEDIATYPE_Video, {F("FFV1"), F("HFYU"), F("FFVH")}, MERIT_NORMAL},
      {&CLSID_AdpcmAudioDecoder, u"ADPCM Audio Decoder", MEDIATYPE_Audio, {0x0002, 0x0011}, MERIT_NORMAL},
      {&CLSID_MpegAudioDecoder, u"MPEG Audio Decoder", MEDIATYPE_Audio, {0x0050, 0x0055}, MERIT_NORMAL},
      {&CLSID_WmaAudioDecoder, u"WMA Audio Decoder", MEDIATYPE_Audio, {0x0160, 0x0161}, MERIT_NORMAL},
  };
  return table;
}

template <size_t I>
com::CUnknown* CreateDecoderAt(com::IUnknown* outer, HRESULT* hr) {
  return CreateDecoderOf(Table()[I], outer, hr);
}

template <size_t... I>
constexpr std::array<com::NewComObjectFunction, sizeof...(I)> DecoderCreators(std::index_sequence<I...>) {
  return {&CreateDecoderAt<I>...};
}
constexpr size_t kDecoderCount = 11;
constexpr auto kDecoderCreators = DecoderCreators(std::make_index_sequence<kDecoderCount>());

// Registration records live as long as the process: the filter mapper reads them when asked.
struct Records {
  std::deque<std::vector<REGPINTYPES>> types;
  std::deque<std::vector<REGFILTERPINS>> pins;
  std::deque<REGFILTER2> filters;
  std::deque<GUID> guids;

  const REGFILTER2* Make(DWORD merit, std::vector<REGPINTYPES> inputs, std::vector<REGPINTYPES> outputs) {
    types.push_back(std::move(inputs));
    const auto& in = types.back();
    types.push_back(std::move(outputs));
    const auto& out = types.back();
    pins.push_back({{u"Input", 0, 0, 0, 0, &com::GUID_NULL, nullptr, static_cast<ULONG>(in.size()), in.data()},
                    {u"Output", 0, 1, 0, 0, &com::GUID_NULL, nullptr, static_cast<ULONG>(out.size()), out.data()}});
    filters.push_back({1, merit, 2, pins.back().data()});
    return &filters.back();
  }
  const GUID* Keep(const GUID& g) {
    guids.push_back(g);
    return &guids.back();
  }
};

}  // namespace

const std::vector<DecoderClass>& DecoderClasses() { return Table(); }

const std::vector<SourceClass>& SourceClasses() {
  static Records records;
  static const std::vector<SourceClass> classes = [] {
    static_assert(kDecoderCount > 0);
    std::vector<SourceClass> result;
    const std::vector<REGPINTYPES> pictures = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24},
                                               {&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2}, {&MEDIATYPE_Video, &MEDIASUBTYPE_I420}};
    const std::vector<REGPINTYPES> pcm = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
    const auto& table = Table();
    for (size_t i = 0; i < table.size() && i < kDecoderCount; ++i) {
      const DecoderClass& d = table[i];
      std::vector<REGPINTYPES> inputs;
      for (uint32_t tag : d.tags) {
        const GUID* major = d.major == MEDIATYPE_Video ? &MEDIATYPE_Video : &MEDIATYPE_Audio;
        inputs.push_back({major, records.Keep(FourccSubtype(tag))});
        if (d.major == MEDIATYPE_Video) {  // FOURCCs are written in either letter case
          uint32_t lower = 0, upper = 0;
          for (int b = 0; b < 4; ++b) {
            const int c = static_cast<int>((tag >> (8 * b)) & 0xFF);
            lower |= uint32_t(std::tolower(c)) << (8 * b);
            upper |= uint32_t(std::toupper(c)) << (8 * b);
          }
          for (uint32_t variant : {lower, upper})
            if (variant != tag) inputs.push_back({major, records.Keep(FourccSubtype(variant))});
        }
      }
      if (*d.clsid == CLSID_MpegVideoDecoder)  // MPEG subtypes that are no FOURCC
        for (const GUID* sub : {&MEDIASUBTYPE_MPEG2_VIDEO, &MEDIASUBTYPE_MPEG1Payload}) inputs.push_back({&MEDIATYPE_Video, sub});
      result.push_back({d.clsid, d.name, kDecoderCreators[i],
                        records.Make(d.merit, std::move(inputs), d.major == MEDIATYPE_Video ? pictures : pcm)});
    }
    result.push_back({&CLSID_Colour, u"Color Space Converter", &CreateColourConverter,
                      records.Make(MERIT_UNLIKELY, pictures, pictures)});
    result.push_back({&CLSID_AudioConverter, u"Audio Converter", &CreateAudioConverter, records.Make(MERIT_UNLIKELY, pcm, pcm)});
    // The DV splitter is chosen automatically for interleaved DV; the demultiplexer only where a
    // caller adds it, since its outputs exist only once the caller makes them.
    result.push_back({&CLSID_DVSplitter, kDvSplitterName, &CreateDvSplitter,
                      records.Make(MERIT_NORMAL,
                                   {{&MEDIATYPE_Interleaved, &MEDIASUBTYPE_dvsd}, {&MEDIATYPE_Interleaved, &MEDIASUBTYPE_dvhd},
                                    {&MEDIATYPE_Interleaved, &MEDIASUBTYPE_dvsl}},
                                   {{&MEDIATYPE_Video, &MEDIASUBTYPE_dvsd}, {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}})});
    result.push_back({&CLSID_MPEG2Demultiplexer, kMpeg2DemultiplexerName, &CreateMpeg2Demultiplexer,
                      records.Make(MERIT_DO_NOT_USE, {{&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_PROGRAM}},
                                   {{&MEDIATYPE_Video, &MEDIASUBTYPE_MPEG2_VIDEO}, {&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEG1AudioPayload}})});
    result.push_back({&CLSID_KestromFileSource, kFileSourceName, &CreateFileSource, nullptr});
    result.push_back({&CLSID_KestromScriptSource, kScriptSourceName, &CreateScriptSource, nullptr});
    return result;
  }();
  return classes;
}

}  // namespace kestrom::dshow
