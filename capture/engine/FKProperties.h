#pragma once
// The capture component's plain properties as one table: type, name, default, the values a
// setter accepts (others are dropped silently), when a change rebuilds the preview and its reason
// code. FK.h turns each row into a field and a Get/Set pair; the properties whose setters do more
// are written out in FK.h.
//
// X(type, Name, default, accepts(v), rebuild-condition, reason)

#include <QDir>
#include <QString>

namespace kestrom::engine {

enum TVideoSource { vs_VideoCaptureDevice, vs_VideoFromImages };
enum TAudioFormat { af_default = 0, af_48000_16b_2ch = 28 };
enum TVideoRenderer { vr_VMR9, vr_VMR7, vr_StandardRenderer, vr_None };
enum TDVSize { dvFull, dvHalf, dvQuarter, dvDC };
enum TRecordingMethod { rm_AVI, rm_ASF, rm_Stream, rm_SendToDVCamcorder };
enum TCompressionMode { cm_NoCompression, cm_CompressOnTheFly, cm_CompressAfterRecording };
enum TCompressionType { ct_Video, ct_Audio, ct_AudioVideo };
enum TAutoFileName { fn_Sequential, fn_DateTime };
enum TNetworkStreaming { ns_Disabled, ns_ASFDirectNetworkStreaming, ns_ASFStreamingToPublishingPoint };
enum TFrameGrabber { fg_BothStreams, fg_PreviewStream, fg_CaptureStream, fg_Disabled };
enum TFrameGrabberRGBFormat { fgf_Default, fgf_RGB32, fgf_RGB24, fgf_RGB565, fgf_RGB555, fgf_RGB8 };
enum TFrameCaptureDest { fc_TBitmap, fc_BmpFile, fc_JpegFile };
enum TJPEGPerformance { jpBestQuality, jpBestSpeed };
enum TSampleCapture { sc_Disabled, sc_Unsplitted, sc_Native, sc_AfterOnDraw, sc_AfterCompression };
enum TVideoDeinterlacing { di_Disabled, di_HalfSize, di_FullSize };
enum TVideoRotation {
  rt_0_deg, rt_90_deg, rt_180_deg, rt_270_deg, rt_0_deg_mirror, rt_90_deg_mirror, rt_180_deg_mirror, rt_270_deg_mirror
};
enum TFileSort { fs_TimeAsc, fs_TimeDesc, fs_NameAsc, fs_NameDesc };
enum TTextOverlayAlign { tf_Left, tf_Center, tf_Right };
enum TThirdPartyFilterList {
  tpf_VideoSource, tpf_VideoPreview, tpf_VideoCapture, tpf_AudioSource, tpf_AudioRender, tpf_AudioRecording
};
enum TBorderStyle { bsNone, bsSingle };

inline constexpr const char* ComponentVersion = "v5.3 (build 5.3.4 rev c), October 2, 2003";

/** @brief The text overlay's text until a program sets its own: it shows every placeholder. */
inline constexpr const char* DefaultTextOverlayString =
    "Note: the date/time formats are\r\n"
    "standard and can be modified.\r\n"
    "\r\n"
    "system date/time: %sys_time[dd/mm/yy hh:nn:ss]%\r\n"
    "DV time code: %time_code%\r\n"
    "DV date/time: %dv_time[dd/mm/yy hh:nn:ss]%\r\n"
    "frame count: %frame_count%\r\n"
    "time (full): %time_full%\r\n"
    "time (sec): %time_sec%\r\n"
    "time (ns): %time_100ns%";

// clang-format off
#define KESTROM_FK_PLAIN_PROPERTIES(X) \
  X(int, VideoSource, vs_VideoCaptureDevice, v >= 0 && v <= 1, true, "prvpr") \
  X(int, AudioFormat, af_default, v >= 0 && v <= 28, boundAudioDevice_ != -1, "saf") \
  X(bool, AudioRecording, false, true, false, "") \
  X(bool, AudioDeviceRendering, false, true, boundAudioDevice_ != -1, "dsar") \
  X(bool, AssociateAudioAndVideoDevices, true, true, false, "") \
  X(bool, AutoConnectRelatedPins, true, true, false, "") \
  X(int, VideoRenderer, vr_VMR7, v >= 0 && v <= 3, true, "prvpr") \
  X(bool, RecordingInNativeFormat, true, true, false, "") \
  X(bool, DVRgb219, false, true, false, "") \
  X(bool, DVReduceFrameRate, false, true, true, "dvrfr") \
  X(int, PlayerDVSize, dvFull, v >= 0 && v <= 3, false, "") \
  X(bool, VideoQualitySettings, true, true, false, "") \
  X(bool, VideoControlSettings, true, true, false, "") \
  X(bool, CameraControlSettings, true, true, false, "") \
  X(bool, StoreDeviceSettingsInRegistry, true, true, false, "") \
  X(int, CompressionMode, cm_NoCompression, v >= 0 && v <= 2, false, "") \
  X(int, CompressionType, ct_Video, v >= 0 && v <= 2, false, "") \
  X(bool, AVIFormatOpenDML, false, true, false, "") \
  X(QString, CaptureFileExt, QString(), true, false, "") \
  X(int, AutoFileName, fn_Sequential, v >= 0 && v <= 1, false, "") \
  X(QString, StoragePath, QDir::currentPath(), true, false, "") \
  X(bool, PreallocCapFileEnabled, false, true, false, "") \
  X(QString, PreallocCapFileName, QString(), true, false, "") \
  X(int, PreallocCapFileSizeInMB, 100, v > 0, false, "") \
  X(bool, PreallocCapFileCopiedAfterRecording, true, true, false, "") \
  X(int, VideoCompression_KeyFrameRate, 15, true, false, "") \
  X(int, VideoCompression_PFramesPerKeyFrame, 0, true, false, "") \
  X(double, VideoCompression_Quality, 1.0, true, false, "") \
  X(int, VideoCompression_WindowSize, -1, true, false, "") \
  X(int, ASFAudioBitRate, -1, v == -1 || v > 0, false, "") \
  X(int, ASFAudioChannels, -1, v == -1 || v == 1 || v == 2, false, "") \
  X(int, ASFVideoBitRate, -1, v == -1 || v > 0, false, "") \
  X(int, ASFVideoQuality, -1, v >= -1, false, "") \
  X(int, ASFVideoMaxKeyFrameSpacing, -1, v >= -1, false, "") \
  X(int, ASFVideoWidth, 320, v == -1 || v > 0, false, "") \
  X(int, ASFVideoHeight, 240, v == -1 || v > 0, false, "") \
  X(int, ASFProfile, -1, true, false, "") \
  X(QString, ASFMediaServerPublishingPoint, QStringLiteral("http://localhost/YourPublishingPoint"), true, false, "") \
  X(unsigned, ASFNetworkPort, 0u, true, false, "") \
  X(unsigned, ASFNetworkMaxUsers, 5u, true, false, "") \
  X(int, NetworkStreaming, ns_Disabled, v >= 0 && v <= 2, false, "") \
  X(int, FrameGrabber, fg_BothStreams, v >= 0 && v <= 3, true, "dsfg") \
  X(int, FrameGrabberRGBFormat, fgf_Default, v >= 0 && v <= 5, FrameGrabber_ != fg_Disabled, "dsfgf") \
  X(int, BurstCount, 3, v >= 0, false, "") \
  X(int, BurstInterval, 0, v >= 0, false, "") \
  X(int, BurstType, fc_TBitmap, v >= 0 && v <= 2, false, "") \
  X(int, FrameCaptureZoomSize, 100, true, false, "") \
  X(bool, FrameCaptureWithoutOverlay, false, true, false, "") \
  X(int, JPEGQuality, 100, v >= 1 && v <= 100, false, "") \
  X(int, JPEGPerformance, jpBestQuality, v >= 0 && v <= 1, false, "") \
  X(bool, JPEGProgressiveDisplay, false, true, false, "") \
  X(int, SampleCapture_Audio, sc_Disabled, v >= 0 && v <= 4, false, "") \
  X(int, SampleCapture_Video, sc_Disabled, v >= 0 && v <= 4, false, "") \
  X(bool, SampleCaptureAsyncEvent, true, true, false, "") \
  X(int, PreviewZoomSize, 100, v >= 0, false, "") \
  X(int, BusyCursor, -11, true, false, "") \
  X(int, NormalCursor, 0, true, false, "") \
  X(bool, ColorKeyEnabled, false, true, true, "scke") \
  X(bool, TranslateMouseCoordinates, true, true, false, "") \
  X(QString, PlayerFileName, QString(), true, false, "") \
  X(int, PlayerFastSeekSpeedRatio, 4, v > 0, false, "") \
  X(bool, PlayerRefreshPausedDisplay, true, true, false, "") \
  X(bool, AutoStartPlayer, true, true, false, "") \
  X(bool, AutoStartPreview, false, true, false, "") \
  X(bool, AutoRefreshPreview, true, true, false, "") \
  X(int, VideoProcessing_Brightness, 0, true, false, "") \
  X(int, VideoProcessing_Contrast, 0, true, false, "") \
  X(int, VideoProcessing_Saturation, 0, true, false, "") \
  X(int, VideoProcessing_Hue, 0, true, false, "") \
  X(bool, VideoProcessing_GrayScale, false, true, false, "") \
  X(bool, VideoProcessing_InvertColors, false, true, false, "") \
  X(bool, VideoProcessing_FlipHorizontal, false, true, false, "") \
  X(bool, VideoProcessing_FlipVertical, false, true, false, "") \
  X(QString, MotionDetector_Grid, QString(), true, false, "") \
  X(bool, MotionDetector_CompareRed, true, true, false, "") \
  X(bool, MotionDetector_CompareGreen, true, true, false, "") \
  X(bool, MotionDetector_CompareBlue, true, true, false, "") \
  X(bool, MotionDetector_GreyScale, false, true, false, "") \
  X(bool, MotionDetector_ReduceVideoNoise, false, true, false, "") \
  X(int, MotionDetector_ReduceCPULoad, 1, v > 0 && v <= 65535, false, "") \
  X(double, MotionDetector_MaxDetectionsPerSecond, 0.0, v >= 0, false, "") \
  X(bool, TextOverlay_Enabled, false, true, false, "") \
  X(int, TextOverlay_Left, 0, true, false, "") \
  X(int, TextOverlay_Top, 0, true, false, "") \
  X(int, TextOverlay_Right, 320, true, false, "") \
  X(int, TextOverlay_BkColor, 0xFFFFFF, true, false, "") \
  X(bool, TextOverlay_Transparent, true, true, false, "") \
  X(int, TextOverlay_Align, tf_Left, v >= 0 && v <= 2, false, "") \
  X(bool, ShapeOverlayEnabled, false, true, false, "") \
  X(QString, VideoFromImages_SourceDirectory, QDir::currentPath(), true, false, "") \
  X(QString, VideoFromImages_TemporaryFile, QStringLiteral("SetOfBitmaps01.dat"), true, false, "") \
  X(int, VideoFromImages_BitmapsSortedBy, fs_TimeAsc, v >= 0 && v <= 3, false, "") \
  X(bool, VideoFromImages_RepeatIndefinitely, false, true, false, "")
// clang-format on

}  // namespace kestrom::engine
