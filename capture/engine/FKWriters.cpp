// The recording graph's writer: the MPEG writer binding, the AVI mux settings, the ASF writer's
// profile and network sinks, and the connection of the recording chains to the writer.
#include "capture/engine/AsfXml.h"
#include "capture/engine/FK.h"
#include "capture/engine/GraphHelpers.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/AsfWriter.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::SUCCEEDED;

namespace {

inline constexpr const char* CLSID_LegacyAmFilterCategoryText = "{083863F1-70DE-11D0-BD40-00A0C911CE86}";

QString Quoted(const QString& text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

/** @brief A text the interfaces hand out by length first: *chars with a null buffer, then the text. */
template <class F>
QString ReadWideText(F read) {
  DWORD chars = 0;
  if (FAILED(read(nullptr, &chars)) || chars == 0) return {};
  std::u16string buffer(chars, u'\0');
  if (FAILED(read(reinterpret_cast<WCHAR*>(buffer.data()), &chars))) return {};
  return QString::fromStdU16String(buffer.c_str());
}

}  // namespace

TStreamingHostUrl StreamingHostUrl(const QString& hostUrl) {
  TStreamingHostUrl result;
  result.url = hostUrl;
  if (!hostUrl.startsWith(QLatin1String("http"))) return result;
  const QString rest = hostUrl.mid(7);
  result.url = QStringLiteral("mms://") + rest;
  const qsizetype colon = rest.indexOf(QLatin1Char(':'));
  result.host = colon < 0 ? rest : rest.left(colon);
  if (colon >= 0) {
    bool ok = false;
    const uint port = rest.mid(colon + 1).toUInt(&ok);
    result.port = ok && port <= 0xFFFF ? uint16_t(port) : 0;
  }
  return result;
}

void TFK::ChooseMpegWriter() {
  mpegWriterIdentity_.clear();
  mpegWriterName_.clear();
  if (state_ != cs_Recording || snapshot_.compressionMode != cm_CompressOnTheFly) return;
  const TDevices* list = VideoCompressorList();
  const std::optional<TCapDeviceInfo> entry = list ? list->Entry(videoCompressor_) : std::nullopt;
  // A compressor entry added by class id from the registry is a writer that replaces compressor and mux.
  if (entry && entry->Manual && !entry->ClassId.isEmpty()) mpegWriterIdentity_ = entry->ClassId;
}

bool TFK::BindMPEGWriter() {
  if (mpegWriterIdentity_.isEmpty() || writer_ || writingFile_.isEmpty()) return false;
  const bool byClassId = mpegWriterIdentity_.startsWith(QLatin1Char('{'));
  const auto filters = CurrentDeviceProvider()->Enumerate(QString::fromLatin1(CLSID_LegacyAmFilterCategoryText));
  const DeviceMoniker* found = nullptr;
  if (filters) {
    for (const DeviceMoniker& m : *filters) {
      const bool match = byClassId ? m.classId.compare(mpegWriterIdentity_, Qt::CaseInsensitive) == 0
                                   : m.friendlyName && *m.friendlyName == mpegWriterIdentity_;
      if (match && m.friendlyName) {
        found = &m;
        break;
      }
    }
  }
  if (CheckAndLog(this, !found, ll_Error, QStringLiteral("MPEGWriterFilter not found: ") + mpegWriterIdentity_,
                  TLogType::e_failed_to_bind_codec))
    return false;
  const QString name = *found->friendlyName;
  ComPtr<IBaseFilter> filter = BindFilter(*found);
  const std::u16string wide = name.toStdU16String();
  if (CheckAndLog(this, !filter || !graph_ || FAILED(graph_->AddFilter(filter.Get(), wide.c_str())), ll_Error,
                  QStringLiteral("cannot bind MPEGWriterFilter: ") + name, TLogType::e_failed_to_bind_codec))
    return false;
  ComPtr<IFileSinkFilter> sink;
  const std::u16string file = writingFile_.toStdU16String();
  HRESULT hr = filter->QueryInterface(IID_IFileSinkFilter, sink.PutVoid());
  if (SUCCEEDED(hr)) hr = sink->SetFileName(file.c_str(), nullptr);
  if (!LogResult(this, hr, ll_Error, QStringLiteral("set outputfilename (mux/sink"), TLogType::e_set_output_file_name)) {
    graph_->RemoveFilter(filter.Get());
    return false;
  }
  writer_ = filter;
  fileSink_ = sink;
  mpegWriterName_ = name;
  return true;
}

void TFK::ConfigureFileWriter(bool audioPresent) {
  if (!writer_) return;
  if (!mpegWriterName_.isEmpty()) {
    // The writer's own saved settings; the saver may bring up pages, so the active window is kept.
    QPointer<QWidget> active = qobject_cast<QApplication*>(QCoreApplication::instance()) ? QApplication::activeWindow() : nullptr;
    OpenPageSaver(writerPageSaver_, mpegWriterName_,
                  QStringLiteral("\\Software\\TFramecatcher\\MPEGWriter\\") + mpegWriterName_);
    ApplyPageSaver(writerPageSaver_, writer_.Get());
    if (active) active->activateWindow();
  } else {
    ComPtr<IConfigAviMux> mux;
    if (LogResult(this, writer_->QueryInterface(IID_IConfigAviMux, mux.PutVoid()), ll_Trace,
                  QStringLiteral("query config avi F_FileMux"), TLogType::e_query_config_avi_mux)) {
      // OpenDML files ask for no AVI 1.0 index beside the large-file one (the mux still keeps it for a
      // file within its first RIFF list, where it is the only index).
      LogResult(this, mux->SetOutputCompatibilityIndex(AVIFormatOpenDML_ ? FALSE : TRUE), ll_Error,
                QStringLiteral("set output Compatibility Index"), TLogType::e_set_output_compatibility_index);
      if (audioPresent)
        LogResult(this, mux->SetMasterStream(MasterStreamIndex(masterStream_)), ll_Error,
                  QStringLiteral("set master stream"), TLogType::e_set_master_stream);
    }
  }
  if (state_ == cs_Reencoding && snapshot_.audioRecording) {
    ComPtr<IConfigInterleaving> interleaving;
    HRESULT hr = writer_->QueryInterface(IID_IConfigInterleaving, interleaving.PutVoid());
    if (SUCCEEDED(hr)) hr = interleaving->put_Mode(INTERLEAVE_FULL);
    LogResult(this, hr, ll_Error, QStringLiteral("set interleaving mode"), TLogType::e_set_interleaving_mode);
  }
}

bool TFK::ConfigureASFProfile(IConfigAsfWriter* config, IWMProfileManager* manager, const QString& xml) {
  if (!config || !manager) return false;
  TASFXML profile;
  QString script;
  profile.Scan(xml, script);
  QString videoName, audioName;
  if (CheckAndLog(this, !profile.SelectStreams(snapshot_.audioRecording, videoName, audioName), ll_Error,
                  QStringLiteral("failed to load ASF profile"), TLogType::e_failed_to_load_ASF_profile))
    return false;
  if (ASFAudioBitRate_ != -1) profile.SetAttribute(QStringLiteral("BitRate"), QString::number(ASFAudioBitRate_), ask_Audio);
  if (ASFAudioChannels_ == 1 || ASFAudioChannels_ == 2)
    profile.SetAttribute(QStringLiteral("nChannels"), QString::number(ASFAudioChannels_), ask_Audio);
  if (ASFVideoBitRate_ != -1) {
    profile.SetAttribute(QStringLiteral("BitRate"), QString::number(ASFVideoBitRate_), ask_Video);
    profile.SetAttribute(QStringLiteral("dwBitRate"), QString::number(ASFVideoBitRate_), ask_Video);
  }
  if (ASFVideoWidth_ >= 0 && ASFVideoHeight_ >= 0) {
    for (const char* name : {"biwidth", "right"})
      profile.SetAttribute(QString::fromLatin1(name), QString::number(ASFVideoWidth_), ask_Video);
    for (const char* name : {"biheight", "bottom"})
      profile.SetAttribute(QString::fromLatin1(name), QString::number(ASFVideoHeight_), ask_Video);
  }
  if (ASFVideoQuality_ != -1) profile.SetAttribute(QStringLiteral("Quality"), QString::number(ASFVideoQuality_), ask_Video);
  if (ASFVideoMaxKeyFrameSpacing_ != -1)
    profile.SetAttribute(QStringLiteral("MaxKeyFrameSpacing"), QString::number(ASFVideoMaxKeyFrameSpacing_), ask_Video);
  if (profile.Generate()) {
    // An edited text the profile manager or the writer refuses leaves no usable profile.
    const std::u16string text = profile.Text().toStdU16String();
    ComPtr<IWMProfile> edited;
    HRESULT hr = manager->LoadProfileByData(reinterpret_cast<LPCWSTR>(text.c_str()), edited.Put());
    if (SUCCEEDED(hr)) hr = config->ConfigureFilterUsingProfile(edited.Get());
    if (!LogResult(this, hr, ll_Error, QStringLiteral("failed to load ASF profile"), TLogType::e_failed_to_load_ASF_profile))
      return false;
  }
  asfVideoInputName_ = videoName;
  asfAudioInputName_ = audioName;
  return true;
}

bool TFK::SetupASFWriter() {
  asfVideoInputName_.clear();
  asfAudioInputName_.clear();
  if (!writer_) return false;
  ComPtr<IWMProfileManager> manager;
  if (SUCCEEDED(WMCreateProfileManager(manager.Put())) && manager) {
    ComPtr<IWMProfileManager2> manager2;
    if (SUCCEEDED(manager->QueryInterface(IID_IWMProfileManager2, manager2.PutVoid())) && manager2)
      manager2->SetSystemProfileVersion(0x80000);
  }
  ComPtr<IConfigAsfWriter> config;
  ComPtr<IWMProfile> profile;
  if (manager && SUCCEEDED(writer_->QueryInterface(IID_IConfigAsfWriter, config.PutVoid())) && config) {
    if (ASFProfile_ == -1) {
      config->GetCurrentProfile(profile.Put());
    } else {
      DWORD count = 0;
      manager->GetSystemProfileCount(&count);
      if (CheckAndLog(this, ASFProfile_ < 0 || DWORD(ASFProfile_) >= count, ll_Error,
                      QStringLiteral("ASF profile index out of range"), TLogType::e_index_out_of_range))
        return false;
      if (SUCCEEDED(manager->LoadSystemProfile(DWORD(ASFProfile_), profile.Put())) && profile) {
        const QString name = ReadWideText([&](WCHAR* text, DWORD* chars) { return profile->GetName(text, chars); });
        CheckAndLog(this, true, ll_Info, QStringLiteral("using ASF profile: ") + Quoted(name),
                    TLogType::i_using_ASF_Profile);
      }
    }
  }
  if (CheckAndLog(this, !profile, ll_Error, QStringLiteral("failed to load ASF profile"),
                  TLogType::e_failed_to_load_ASF_profile))
    return false;
  const QString xml =
      ReadWideText([&](WCHAR* text, DWORD* chars) { return manager->SaveProfile(profile.Get(), text, chars); });
  if (!ConfigureASFProfile(config.Get(), manager.Get(), xml)) return false;

  // The writer's sinks: the file, and the network sinks added here. A live source is never waited for.
  ComPtr<IServiceProvider> provider;
  ComPtr<IWMWriterAdvanced2> advanced;
  if (SUCCEEDED(writer_->QueryInterface(IID_IServiceProvider, provider.PutVoid())) && provider)
    provider->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2, advanced.PutVoid());
  if (advanced) {
    if (snapshot_.recordingMethod == rm_Stream) {
      // Only streaming: no file is wanted.
      DWORD sinks = 0;
      advanced->GetSinkCount(&sinks);
      for (DWORD i = sinks; i > 0; --i) {
        ComPtr<IWMWriterSink> sink;
        if (SUCCEEDED(advanced->GetSink(i - 1, sink.Put())) && sink) advanced->RemoveSink(sink.Get());
      }
    }
    advanced->SetLiveSource(TRUE);
  }

  uint16_t port = 0;
  TStreamingHostUrl host;
  if (NetworkStreaming_ == ns_ASFStreamingToPublishingPoint) {
    const QString point = ASFMediaServerPublishingPoint_;
    const std::u16string url = point.toStdU16String();
    ComPtr<IWMWriterPushSink> push;
    const bool connected = advanced && SUCCEEDED(WMCreateWriterPushSink(push.Put())) && push &&
                           SUCCEEDED(push->Connect(reinterpret_cast<LPCWSTR>(url.c_str()), nullptr, TRUE)) &&
                           SUCCEEDED(advanced->AddSink(push.Get()));
    if (CheckAndLog(this, !connected, ll_Error, QStringLiteral("failed to connect to publishing point ") + Quoted(point),
                    TLogType::e_failed_to_connect_to_server))
      return false;
    CheckAndLog(this, true, ll_Info, QStringLiteral("streaming to ") + Quoted(point),
                TLogType::i_streaming_to_publishing_point);
  } else if (NetworkStreaming_ == ns_ASFDirectNetworkStreaming) {
    ComPtr<IWMWriterNetworkSink> network;
    DWORD opened = ASFNetworkPort_;
    bool ok = advanced && SUCCEEDED(WMCreateWriterNetworkSink(network.Put())) && network &&
              SUCCEEDED(network->SetNetworkProtocol(WMT_PROTOCOL_HTTP)) &&
              SUCCEEDED(network->SetMaximumClients(ASFNetworkMaxUsers_)) && SUCCEEDED(network->Open(&opened));
    if (ok) ASFNetworkPort_ = unsigned(opened);
    ok = ok && SUCCEEDED(advanced->AddSink(network.Get()));
    QString url;
    if (ok) {
      url = ReadWideText([&](WCHAR* text, DWORD* chars) { return network->GetHostURL(text, chars); });
      ok = !url.isEmpty();
    }
    if (CheckAndLog(this, !ok, ll_Error, QStringLiteral("failed to setup network streaming"),
                    TLogType::e_failed_to_setup_network_streaming)) {
      if (network) network->Close();
      return false;
    }
    host = StreamingHostUrl(url);
    port = host.port;
  }
  if (port != 0) Fire(&TFKEvents::OnDirectNetworkStreamingHostUrl, host.url, host.host, port);
  return true;
}

bool TFK::ConnectToWriter(ComPtr<IPin>& chain, const GUID& major, ComPtr<IPin>& controlPin) {
  ComPtr<IPin> input;
  if (!writer_ || !chain) return false;
  if (IsAsfOutput()) {
    // The ASF writer's inputs are named after the profile's streams.
    const QString name = major == MEDIATYPE_Audio ? asfAudioInputName_ : asfVideoInputName_;
    if (name.isEmpty() || FAILED(FindPinByName(writer_.Get(), PINDIR_INPUT, name, input, true, true))) return false;
  } else if (FAILED(FindPinByName(writer_.Get(), PINDIR_INPUT, QString(), input, true, true))) {
    return false;
  }
  ComPtr<IAMStreamControl> control;
  if (FAILED(input->QueryInterface(IID_IAMStreamControl, control.PutVoid())) || !control) {
    // The writer cannot hold the stream itself: a Smart Tee's capture output does it in front of it.
    ComPtr<IPin> preview;
    if (!InsertFilter2(CLSID_SmartTee, QStringLiteral("control"), chain, preview)) return false;
    controlPin = chain;
  } else {
    controlPin = input;
  }
  const HRESULT hr = graph_->Connect(chain.Get(), input.Get());
  return SUCCEEDED(hr);
}

}  // namespace kestrom::engine
