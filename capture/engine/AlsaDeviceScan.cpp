// Audio capture devices through ALSA: every capture PCM of every card.
#include "capture/engine/DeviceProvider.h"

#if KESTROM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace kestrom::engine {

std::vector<DeviceMoniker> ScanAlsaCaptureDevices() {
  std::vector<DeviceMoniker> devices;
#if KESTROM_HAVE_ALSA
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    snd_ctl_t* ctl = nullptr;
    const QByteArray hw = "hw:" + QByteArray::number(card);
    if (snd_ctl_open(&ctl, hw.constData(), 0) < 0) continue;
    snd_ctl_card_info_t* info = nullptr;
    snd_ctl_card_info_malloc(&info);
    if (snd_ctl_card_info(ctl, info) == 0) {
      const QString cardId = QString::fromUtf8(snd_ctl_card_info_get_id(info));
      const QString cardName = QString::fromUtf8(snd_ctl_card_info_get_name(info));
      snd_pcm_info_t* pcm = nullptr;
      snd_pcm_info_malloc(&pcm);
      int device = -1;
      while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
        snd_pcm_info_set_device(pcm, static_cast<unsigned>(device));
        snd_pcm_info_set_subdevice(pcm, 0);
        snd_pcm_info_set_stream(pcm, SND_PCM_STREAM_CAPTURE);
        if (snd_ctl_pcm_info(ctl, pcm) < 0) continue;  // no capture on this device
        const QString pcmName = QString::fromUtf8(snd_pcm_info_get_name(pcm));
        // Keyed by the card's id, which stays the same when cards are numbered differently.
        devices.push_back({QStringLiteral("alsa:hw:CARD=%1,DEV=%2").arg(cardId).arg(device),
                           pcmName.isEmpty() ? cardName : cardName + QStringLiteral(": ") + pcmName,
                           QString::fromLatin1(CLSID_Proxy)});
      }
      snd_pcm_info_free(pcm);
    }
    snd_ctl_card_info_free(info);
    snd_ctl_close(ctl);
  }
#endif
  return devices;
}

}  // namespace kestrom::engine
