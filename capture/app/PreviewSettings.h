#pragma once
// The settings the capture form gives the component whenever it returns to preview, each written
// and read back until the component reports it, within a bound. Works on the form's component and
// on its engine alike (and on a test's stand-in), as it needs only their Get/Set pairs.

#include "capture/app/CaptureModes.h"
#include "capture/engine/FKProperties.h"

#include <QString>
#include <QStringList>

namespace kestrom::capture {

/** @brief The preview zoom the form sets, in percent. */
inline constexpr int kPreviewZoom = 78;
/** @brief The entry of the device's video size list the form sets. */
inline constexpr int kPreviewSizeIndex = 4;

/** @brief The log line of a setting the component did not take. */
inline QString SettingNotTakenLine(const char* name, int value) {
  return QStringLiteral("setting not taken: %1 := %2").arg(QString::fromLatin1(name)).arg(value);
}

namespace detail {
template <typename Set, typename Get>
void Ensure(QStringList& notTaken, const char* name, int value, Set&& set, Get&& get) {
  if (!WriteUntilRead(set, get, value)) notTaken << SettingNotTakenLine(name, value);
}
}  // namespace detail

/** @brief Deinterlacing off, video size entry 4, zoom 78. Gives back the lines of settings not taken. */
template <typename Component>
QStringList EnsureDeviceSettings(Component& c) {
  QStringList notTaken;
  detail::Ensure(notTaken, "VideoProcessing_Deinterlacing", engine::di_Disabled,
                 [&](int v) { c.SetVideoProcessing_Deinterlacing(v); },
                 [&] { return c.GetVideoProcessing_Deinterlacing(); });
  detail::Ensure(notTaken, "VideoSize", kPreviewSizeIndex, [&](int v) { c.SetVideoSize(v); },
                 [&] { return c.GetVideoSize(); });
  detail::Ensure(notTaken, "PreviewZoomSize", kPreviewZoom, [&](int v) { c.SetPreviewZoomSize(v); },
                 [&] { return c.GetPreviewZoomSize(); });
  return notTaken;
}

/**
 * @brief The frame grabber on the preview stream (written only when it differs), then
 * deinterlacing off and zoom 78 made sure again. Gives back the lines of settings not taken.
 */
template <typename Component>
QStringList EnsureGrabberSettings(Component& c) {
  QStringList notTaken;
  if (c.GetFrameGrabber() != engine::fg_PreviewStream)
    detail::Ensure(notTaken, "FrameGrabber", engine::fg_PreviewStream, [&](int v) { c.SetFrameGrabber(v); },
                   [&] { return c.GetFrameGrabber(); });
  detail::Ensure(notTaken, "VideoProcessing_Deinterlacing", engine::di_Disabled,
                 [&](int v) { c.SetVideoProcessing_Deinterlacing(v); },
                 [&] { return c.GetVideoProcessing_Deinterlacing(); });
  detail::Ensure(notTaken, "PreviewZoomSize", kPreviewZoom, [&](int v) { c.SetPreviewZoomSize(v); },
                 [&] { return c.GetPreviewZoomSize(); });
  return notTaken;
}

}  // namespace kestrom::capture
