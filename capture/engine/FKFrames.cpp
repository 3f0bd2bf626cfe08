// What the engine does with each grabbed frame: counters, overlays, kept copies and pictures.
#include "capture/engine/FK.h"

#include "capture/engine/SyncManager.h"
#include "platform/core/Bmp.h"
#include "platform/core/Clock.h"
#include "platform/jpeg/Jpeg.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <chrono>
#include <cmath>
#include <cstring>

namespace kestrom::engine {

using namespace dshow;

namespace {

constexpr int32_t kFrameInfoMarker = 0x7FF52A8E;

/** @brief The frame a grabber hands over as a view; false when its header and bytes do not hold together. */
bool FrameOf(const BITMAPINFOHEADER* header, uint8_t* bits, int32_t length, core::FrameBits& frame) {
  if (!header || !bits) return false;
  frame = {};
  frame.Bits = bits;
  frame.Width = header->biWidth;
  frame.Height = header->biHeight;
  switch (header->biBitCount) {
    case 8:
      frame.Format = core::FramePixels::Rgb8;
      // The colour table follows the header in the grabber's format block.
      frame.Palette = reinterpret_cast<const uint32_t*>(header + 1);
      frame.PaletteSize = header->biClrUsed > 0 && header->biClrUsed <= 256 ? int(header->biClrUsed) : 256;
      break;
    case 16: frame.Format = header->biCompression == 3 ? core::FramePixels::Rgb565 : core::FramePixels::Rgb555; break;
    case 24: frame.Format = core::FramePixels::Rgb24; break;
    case 32: frame.Format = core::FramePixels::Rgb32; break;
    default: return false;
  }
  return frame.Valid() && frame.ImageBytes() <= length;
}

QImage::Format ImageFormatOf(core::FramePixels format) {
  switch (format) {
    case core::FramePixels::Rgb8: return QImage::Format_Indexed8;
    case core::FramePixels::Rgb555: return QImage::Format_RGB555;
    case core::FramePixels::Rgb565: return QImage::Format_RGB16;
    case core::FramePixels::Rgb24: return QImage::Format_BGR888;
    case core::FramePixels::Rgb32: return QImage::Format_RGB32;
  }
  return QImage::Format_Invalid;
}

/** @brief A kept picture seen as a frame (top-down rows), with its colour table when 8-bit. */
struct PictureFrame {
  core::FrameBits bits;
  std::vector<uint32_t> palette;
  bool valid = false;
};

/** @brief A view over the picture's bytes; the caller writes through it only into a picture it owns alone. */
PictureFrame FrameOfPicture(const QImage& picture) {
  PictureFrame out;
  core::FramePixels format;
  switch (picture.format()) {
    case QImage::Format_Indexed8: format = core::FramePixels::Rgb8; break;
    case QImage::Format_RGB555: format = core::FramePixels::Rgb555; break;
    case QImage::Format_RGB16: format = core::FramePixels::Rgb565; break;
    case QImage::Format_BGR888: format = core::FramePixels::Rgb24; break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: format = core::FramePixels::Rgb32; break;
    default: return out;
  }
  if (picture.isNull()) return out;
  for (QRgb c : picture.colorTable()) out.palette.push_back(c & 0xFFFFFF);
  out.bits = {const_cast<uchar*>(picture.constBits()), picture.width(), -picture.height(), format, picture.bytesPerLine(),
              out.palette.empty() ? nullptr : out.palette.data(), int(out.palette.size())};
  out.valid = out.bits.Valid();
  return out;
}

}  // namespace

// ---- settings the streaming thread reads ----

void TFK::PublishFrameSettings() {
  auto s = std::make_shared<TFrameSettings>();
  s->textEnabled = TextOverlay_Enabled_;
  s->shapeEnabled = ShapeOverlayEnabled_;
  s->overlaysNeeded = OverlaysNeeded();
  s->textStyle.Left = TextOverlay_Left_;
  s->textStyle.Top = TextOverlay_Top_;
  s->textStyle.Right = TextOverlay_Right_;
  s->textStyle.Font = TextOverlay_Font_;
  s->textStyle.BkColor = TextOverlay_BkColor_;
  s->textStyle.Transparent = TextOverlay_Transparent_;
  s->textStyle.Align = TextOverlay_Align_;
  if (auto* shape = qobject_cast<ui::ShapeOverlay*>(ShapeOverlay_.data())) s->shape = shape->Snapshot();
  s->withoutOverlay = FrameCaptureWithoutOverlay_;
  s->motion = MotionDetector_Enabled_;
  s->state = state_;
  s->customTexts = customTexts_;
  s->burstCount = BurstCount_;
  s->burstInterval = BurstInterval_;
  frameSettings_.Publish(std::move(s));
  // The running frame grabber takes changed processing values with its next frame.
  const std::array<int, 10> processing{VideoProcessing_Brightness_, VideoProcessing_Contrast_,
                                       VideoProcessing_Saturation_, VideoProcessing_Hue_,
                                       VideoProcessing_GrayScale_,  VideoProcessing_InvertColors_,
                                       VideoProcessing_FlipHorizontal_, VideoProcessing_FlipVertical_,
                                       GetVideoProcessing_Deinterlacing(), VideoProcessing_Rotation_};
  if (processing != appliedProcessing_) {
    appliedProcessing_ = processing;
    UpdateVideoProcessing();
  }
}

std::shared_ptr<const TFK::TFrameSettings> TFK::FrameSettings() const {
  auto s = frameSettings_.Current();
  if (!s) {
    static const auto none = std::make_shared<const TFrameSettings>();
    return none;
  }
  return s;
}

void TFK::SetTextOverlay_String(const QString& text) {
  TextOverlay_String_ = text;
  textOverlayText_.Set(text);
}

void TFK::SetTextOverlay_Font(const ui::FontChoice& font) {
  TextOverlay_Font_ = font;
  PublishFrameSettings();
}

// ---- streaming thread ----

void TFK::OnGrabberFrame(int64_t sampleTime, const BITMAPINFOHEADER* header, uint8_t* bits, int32_t length) {
  ++grabbedFrames_;
  const std::shared_ptr<const TFrameSettings> settings = FrameSettings();
  core::FrameBits frame;
  const bool known = FrameOf(header, bits, length, frame);
  TFrameInfo info;
  bool copy = false;
  {
    std::lock_guard lock(frameLock_);
    // The player's counters follow its position on the GUI thread.
    if (settings->state != cs_None && settings->state != cs_Player && bits)
      UpdateCountersLocked(sampleTime, settings->state);
    info = frameInfo_;
    if (!captureInProgress_) {
      bool burstTaken = false;
      if (BurstMode_) {
        bool taken = settings->burstInterval == 0;
        if (!taken && --burstIntervalCounter_ < 0) {
          taken = true;
          burstIntervalCounter_ = settings->burstInterval;
        }
        if (taken) {
          if (settings->burstCount <= 0) {
            burstTaken = true;
          } else if (burstCounter_ > 0) {
            --burstCounter_;
            burstTaken = true;
          }
          if (settings->burstCount > 0 && burstCounter_ == 0) BurstMode_ = false;
        }
      }
      if (burstTaken) burstCapturePending_ = true;
      copy = burstTaken || settings->motion || captureRequest_.pending || captureThenPause_ ||
             settings->state == cs_Player;
      if (captureThenPause_) {
        captureThenPause_ = false;
        if (settings->state == cs_Preview || settings->state == cs_Recording) pauseAfterFrameProgress_ = true;
      }
    }
  }
  FinishFrame(frame, known, info, *settings, copy);
  notificationPending_ = true;  // the notify thread hands the frame progress to the GUI thread
}

void TFK::FinishFrame(const core::FrameBits& frame, bool known, const TFrameInfo& info,
                      const TFrameSettings& settings, bool copy) {
  if (!known) return;
  const bool overlaysAfter = settings.withoutOverlay || settings.motion;
  if (!overlaysAfter) OfferFrameToApplication(frame, info);
  if (copy || settings.motion) KeepFrame(frame, info);
  if (overlaysAfter) OfferFrameToApplication(frame, info);
}

void TFK::KeepFrame(const core::FrameBits& frame, const TFrameInfo& info) {
  QImage spare;
  {
    std::lock_guard lock(frameLock_);
    spare = std::move(keptSpare_);
    keptSpare_ = QImage();
  }
  const QImage::Format format = ImageFormatOf(frame.Format);
  const int height = frame.AbsHeight();
  // The displaced picture's bytes are reused when nobody holds it any more: no allocation per frame.
  if (spare.isNull() || !spare.isDetached() || spare.width() != frame.Width || spare.height() != height ||
      spare.format() != format)
    spare = QImage(frame.Width, height, format);
  if (spare.isNull()) return;
  if (frame.Format == core::FramePixels::Rgb8) {
    QList<QRgb> table;
    for (int i = 0; i < frame.PaletteSize; ++i) table.push_back(0xFF000000u | frame.Palette[i]);
    spare.setColorTable(table);
  }
  uchar* out = spare.bits();
  const qsizetype outStride = spare.bytesPerLine();
  const size_t rowBytes = size_t(frame.Width) * size_t(frame.BytesPerPixel());
  for (int y = 0; y < height; ++y) std::memcpy(out + outStride * y, frame.Row(y), rowBytes);
  TFrameData kept;
  kept.Bitmap = std::move(spare);
  kept.FrameNumber = info.FrameNumber;
  kept.FrameTime = info.Time;
  std::lock_guard lock(frameLock_);
  keptSpare_ = std::move(keptPrevious_.Bitmap);
  keptPrevious_ = std::move(keptCurrent_);
  keptCurrent_ = std::move(kept);
  keptCurrentInfo_ = info;
}

void TFK::OfferFrameToApplication(const core::FrameBits& frame, const TFrameInfo& info) {
  const std::shared_ptr<const TFrameSettings> settings = FrameSettings();
  if (settings->overlaysNeeded && !destroying_) DrawOverlays(frame, info, *settings, true);
  if (destroying_) return;
  if (slots_->OnFrameOverlayUsingDIB) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = frame.Width;
    header.biHeight = frame.Height;
    header.biPlanes = 1;
    header.biBitCount = uint16_t(core::BitCountOf(frame.Format));
    header.biSizeImage = uint32_t(frame.ImageBytes());
    slots_->OnFrameOverlayUsingDIB(host_.sender, info, header, frame.Bits);
  }
  if (slots_->OnFrameOverlayUsingVIDEOHDR) {
    TVideoHeader video;
    video.Data = frame.Bits;
    video.BufferLength = video.BytesUsed = uint32_t(frame.ImageBytes());
    video.TimeCaptured = uint32_t(info.Time / 10'000);
    slots_->OnFrameOverlayUsingVIDEOHDR(host_.sender, info, video);
  }
}

void TFK::DrawOverlays(const core::FrameBits& frame, const TFrameInfo& info, const TFrameSettings& settings,
                       bool withEvent) {
  ui::Canvas canvas = ui::Canvas::OverFrame(frame);
  if (canvas.Width() == 0) return;
  if (settings.shapeEnabled && settings.shape && settings.shape->Enabled) ui::DrawShape(canvas, *settings.shape);
  if (settings.textEnabled) {
    if (const std::shared_ptr<const TextOverlayBuffer> text = textOverlayText_.Current())
      DrawTextOverlay(canvas, settings.textStyle,
                      ComposeTextOverlay(text->Segments, info, QDateTime::currentDateTime(), settings.customTexts));
  }
  if (withEvent && slots_->OnFrameOverlayUsingDC && !destroying_) slots_->OnFrameOverlayUsingDC(host_.sender, info, canvas);
}

// ---- counters ----

void TFK::UpdateCounters(int64_t sampleTime) {
  std::lock_guard lock(frameLock_);
  UpdateCountersLocked(sampleTime, state_);
}

int64_t TFK::GraphClockTime() const {
  REFERENCE_TIME now = 0;
  if (engineClock_ && com::SUCCEEDED(engineClock_->GetTime(&now))) return now;
  // A graph without a clock of its own runs on the system clock, which is this one.
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
             .count() /
         100;
}

void TFK::UpdateCountersLocked(int64_t sampleTime, int state, int64_t deviceFrames) {
  auto& c = counters_;
  if (state == cs_Player) {
    const double ratio = PlayerSpeedRatio_;
    const bool running = runState_ == 2;
    if (sampleTime == kUntimedSample) sampleTime = 0;
    int64_t position = running ? sampleTime : lastSeekPosition_.load();
    if (ratio != 1.0) position = int64_t(std::llround(double(position) * ratio));
    const int64_t duration = frameDuration_ / std::max<int64_t>(c.durationDivisor, 1);
    position += duration;
    c.position = position;
    // No frame duration, no frame number: never a division by zero.
    c.frameNumber = duration > 0 ? int64_t(std::llround(double(position) / double(duration))) : 0;
  } else {
    LONG dropped = 0;
    if (droppedFramesSource_ && com::SUCCEEDED(droppedFramesSource_->GetNumDropped(&dropped))) c.dropped = dropped;
    // Frames without a time of their own are timed by the graph's clock, so that the elapsed
    // time (and a recording's time limit) follows every kind of recording.
    c.streamTime = sampleTime == kUntimedSample ? GraphClockTime() : sampleTime;
    if (c.startTime == -1 || c.restartAtNext) {
      c.startTime = c.streamTime;
      // The device counts its frames from the graph's start: none of them is before the start,
      // unless writing was held while the graph ran (then this frame is the first written).
      if (deviceFrames >= 0) c.startFrame = c.restartAtNext ? std::max<int64_t>(deviceFrames - 1, 0) : 0;
      else c.startFrame = c.frameNumber;
      c.startDropped = c.dropped;
      c.restartAtNext = false;
    }
    if (deviceFrames >= 0) c.frameNumber = deviceFrames;
    else ++c.frameNumber;
    if (!c.positionHeld) c.position = c.pausedTotal > 0 ? c.streamTime - c.pausedTotal : c.streamTime;
  }
  DeriveFrameInfoLocked(state);
}

void TFK::DeriveFrameInfo() {
  std::lock_guard lock(frameLock_);
  DeriveFrameInfoLocked(state_);
}

void TFK::DeriveFrameInfoLocked(int state) {
  const auto& c = counters_;
  TFrameInfo& f = frameInfo_;
  const bool player = state == cs_Player;
  f.FrameNumber = int32_t(player ? c.frameNumber : c.frameNumber - std::max<int64_t>(c.startFrame, 0));
  f.SetTime(player ? c.position : c.streamTime - std::max<int64_t>(c.startTime, 0));
  f.DroppedFrames = int32_t(c.dropped - std::max<int64_t>(c.startDropped, 0));
  f.IsDV = sourceIsDV_;
  f.SetDVDate(DVDate());
  f.Marker = kFrameInfoMarker;
}

TFrameInfo TFK::FrameInfo() const {
  std::lock_guard lock(frameLock_);
  return frameInfo_;
}

void TFK::ResetCounters(bool withPlayer) {
  frameCount_ = 0;
  droppedFrames_ = 0;
  if (withPlayer) {
    currentFrame_ = 0;
    playerPosition_ = 0;
    clipDuration_ = 0;
    clipFrameCount_ = 0;
    clipKind_ = 0;
    clipSize_ = QSize();
  }
  {
    std::lock_guard lock(frameLock_);
    if (withPlayer) frameInfo_ = TFrameInfo{};
    burstCounter_ = BurstCount_;
    burstIntervalCounter_ = BurstInterval_;
    frameInfo_.Marker = kFrameInfoMarker;
    counters_ = {};
    captureRequest_ = {};
    burstCapturePending_ = false;
    captureThenPause_ = false;
  }
  for (TSampleCopy& copy : sampleCopies_) copy.ready = false;
  lastDetectionTime_ = lastComparedTime_ = INT64_MIN;
  lastComparedNumber_ = -1;
  grabbersPaused_ = false;
  PublishFrameSettings();
}

// ---- pause and resume of a recording ----

bool TFK::PauseRecordingInternal() {
  if (!graphActive_) return false;
  // Only the grabbers that drop samples while paused can pause a recording.
  const bool canDrop = GrabberHolder(filters::gk_Lock).filter || GrabberHolder(filters::gk_LockAndShift).filter ||
                       GrabberHolder(filters::gk_Clear).filter;
  if (!canDrop) return false;
  const bool was = grabbersPaused_;
  SetGrabbersPaused(true);
  grabbersPaused_ = true;
  if (!was) {
    std::lock_guard lock(frameLock_);
    counters_.pauseStart = counters_.streamTime;
    counters_.pauseFrame = counters_.frameNumber;
    counters_.positionHeld = true;
  }
  return !was;
}

bool TFK::ResumeRecordingInternal() {
  const bool was = grabbersPaused_;
  SetGrabbersPaused(false);
  grabbersPaused_ = false;
  if (was) {
    std::lock_guard lock(frameLock_);
    auto& c = counters_;
    if (c.pauseStart >= 0) c.pausedTotal += c.streamTime - c.pauseStart;
    c.pauseStart = -1;
    c.pausedFrames += c.frameNumber - c.pauseFrame;
    c.positionHeld = false;
  }
  return was;
}

// ---- GUI thread ----

TFrameData TFK::KeptFrame() const {
  std::lock_guard lock(frameLock_);
  return keptCurrent_;
}

QString TFK::LastCapturedFile(bool burst) const { return burst ? lastBurstFile_ : lastRequestFile_; }

void TFK::DispatchKeptFrame() {
  PublishFrameSettings();
  bool haveFrame = false, request = false, burst = false;
  int dest = fc_TBitmap;
  QString name;
  {
    std::lock_guard lock(frameLock_);
    frameCount_ = frameInfo_.FrameNumber;
    haveFrame = !keptCurrent_.Bitmap.isNull();
    if (haveFrame) {
      if (captureRequest_.pending) {
        request = true;
        dest = captureRequest_.dest;
        name = captureRequest_.fileName;
        captureRequest_ = {};
      } else if (burstCapturePending_) {
        burst = true;
        burstCapturePending_ = false;
      }
      captureInProgress_ = request || burst;
    }
  }
  if (haveFrame) {
    if (MotionDetector_Enabled_) MotionCheck();
    if (request) CaptureKeptFrame(dest, name, true, true);
    // The burst's last picture is saved too, though that frame ended the burst.
    else if (burst) CaptureKeptFrame(BurstType_, QString(), true, false);
    std::lock_guard lock(frameLock_);
    captureInProgress_ = false;
  }
  FireDeferredSampleEvents();
}

bool TFK::CaptureFrameTo(int dest, const QString& fileName) {
  if (CheckAndLog(this, !graphActive_ || state_ == cs_None, ll_Error, QStringLiteral("not previewing"),
                  TLogType::e_not_previewing))
    return false;
  if (dest < fc_TBitmap || dest > fc_JpegFile) return false;
  std::lock_guard lock(frameLock_);
  captureRequest_.pending = true;
  captureRequest_.dest = dest;
  captureRequest_.fileName = fileName;
  return true;
}

bool TFK::CaptureKeptFrame(int dest, const QString& fileName, bool save, bool isRequest) {
  TFrameData data;
  TFrameInfo info;
  {
    std::lock_guard lock(frameLock_);
    data = keptCurrent_;
    info = keptCurrentInfo_;
  }
  if (data.Bitmap.isNull()) return false;
  QImage picture = data.Bitmap;
  // With motion detection the kept frame is raw: the overlays go on a full-size copy, which is
  // then scaled, so they land where and as large as in the video.
  if (MotionDetector_Enabled_ && !FrameCaptureWithoutOverlay_) {
    picture = data.Bitmap.copy();
    picture.bits();  // owned alone from here: the overlays are drawn into it
    PictureFrame view = FrameOfPicture(picture);
    const std::shared_ptr<const TFrameSettings> settings = FrameSettings();
    if (view.valid && settings->overlaysNeeded) DrawOverlays(view.bits, info, *settings, false);
  }
  if (FrameCaptureZoomSize_ != 100 && FrameCaptureZoomSize_ > 0) {
    const int width = int(std::lround(double(picture.width()) * FrameCaptureZoomSize_ / 100.0));
    const int height = int(std::lround(double(picture.height()) * FrameCaptureZoomSize_ / 100.0));
    const QImage::Format format = picture.format();
    const QList<QRgb> table = picture.colorTable();
    QImage scaled = picture.scaled(std::max(width, 1), std::max(height, 1), Qt::IgnoreAspectRatio,
                                   Qt::SmoothTransformation);
    picture = format == QImage::Format_Indexed8 ? scaled.convertToFormat(format, table) : scaled.convertToFormat(format);
  }
  data.Bitmap = picture;
  bool success = true;
  QString name;
  if (save && dest != fc_TBitmap) {
    const int kind = dest == fc_BmpFile ? 0 : 1;
    name = fileName.isEmpty() ? MakeAutoFileName(kind) : NormaliseCaptureFileName(fileName, kind);
    success = dest == fc_BmpFile ? SaveBitmap(picture, name) : SaveJpeg(picture, name);
    if (success) (isRequest ? lastRequestFile_ : lastBurstFile_) = name;
    else if (!name.isEmpty() && !QFileInfo::exists(name)) name.clear();
  }
  if (slots_->OnFrameCaptureCompleted && !destroying_)
    slots_->OnFrameCaptureCompleted(host_.sender, data, dest, name, success);
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
  if (success) frameCaptured_ = true;
  return success;
}

bool TFK::SaveBitmap(const QImage& picture, const QString& fileName) {
  if (fileName.isEmpty() || picture.isNull()) return false;
  const PictureFrame view = FrameOfPicture(picture);
  const core::WriteResult result =
      view.valid ? core::WriteBmpFile(fileName, view.bits) : core::WriteBmpFile(fileName, picture);
  CheckAndLog(this, !result.ok, ll_Error, QStringLiteral("cannot write ") + fileName, TLogType::e_failed);
  return result.ok;
}

bool TFK::SaveJpeg(const QImage& picture, const QString& fileName) {
  if (fileName.isEmpty() || picture.isNull()) return false;
  jpeg::CompressOptions options;
  options.quality = JPEGQuality_;
  options.progressive = JPEGProgressiveDisplay_;
  options.performance = JPEGPerformance_ == jpBestSpeed ? jpeg::JpegPerformance::jpBestSpeed
                                                        : jpeg::JpegPerformance::jpBestQuality;
  try {
    jpeg::CompressToFile(picture, fileName, options);
    return true;
  } catch (const jpeg::JpegError& error) {
    CheckAndLog(this, true, ll_Error, QStringLiteral("cannot write ") + fileName + QStringLiteral(": ") +
                                          QString::fromUtf8(error.what()),
                TLogType::e_failed);
    return false;
  }
}

QString TFK::MakeAutoFileName(int kind, const QString& extension) {
  const QString ext = kind == 0 ? QStringLiteral("bmp") : kind == 1 ? QStringLiteral("jpg") : extension;
  const QString folder = StorageFolder();
  if (!QFileInfo(folder).isDir()) {
    CheckAndLog(this, true, ll_Error, QStringLiteral("cannot create directory: ") + folder,
                TLogType::e_failed_to_create_directory);
    return QString();
  }
  // An automatic name never replaces a picture already there: the next free one is taken.
  for (int attempt = 0; attempt < 1000000; ++attempt) {
    QString stem;
    if (AutoFileName_ == fn_DateTime) {
      stem = QDateTime::currentDateTime().toString(QStringLiteral("yyMMdd_hhmmss_zzz"));
      if (attempt > 0) stem += QLatin1Char('_') + QString::number(attempt + 1);
    } else {
      stem = QStringLiteral("%1").arg(NextSequentialNumber(folder, AutoFilePrefix_, ext), 6, 10, QLatin1Char('0'));
    }
    const QString name = folder + AutoFilePrefix_ + stem + QLatin1Char('.') + ext;
    if (!QFileInfo::exists(name)) return name;
  }
  return QString();
}

QString TFK::NormaliseCaptureFileName(const QString& name, int kind) {
  const QString ext = kind == 0 ? QStringLiteral("bmp") : QStringLiteral("jpg");
  const QString expanded = QFileInfo(QDir::fromNativeSeparators(name)).absoluteFilePath();
  const QString folder = QFileInfo(expanded).absolutePath();
  if (!QFileInfo(folder).isDir()) ForceDirectories(folder);
  if (!QFileInfo(folder).isDir()) {
    CheckAndLog(this, true, ll_Error, QStringLiteral("cannot create directory: ") + folder,
                TLogType::e_failed_to_create_directory);
    return QString();
  }
  const qsizetype slash = expanded.lastIndexOf(QLatin1Char('/'));
  const qsizetype dot = expanded.lastIndexOf(QLatin1Char('.'));
  if (dot <= slash) return expanded + QLatin1Char('.') + ext;
  if (expanded.mid(dot + 1).toLower() == ext) return expanded;
  return expanded.left(dot + 1) + ext;
}

std::optional<QDateTime> TFK::EncodeDVDateTime() const { return DVDateTimeOf(FrameInfo()); }

namespace {
// Two kept frames closer in time than this (100-ns units) are the same picture to the detector.
constexpr int64_t kMotionMinimumSpacing = 1;
}  // namespace

void TFK::MotionCheck() {
  TFrameData previous, current;
  {
    std::lock_guard lock(frameLock_);
    previous = keptPrevious_;
    current = keptCurrent_;
  }
  if (current.Bitmap.isNull()) return;
  // Each kept frame is compared once, and only with a frame of another time: a GUI step without a
  // new frame, or a picture delivered again at its own time, compares nothing.
  if (current.FrameNumber == lastComparedNumber_ && current.FrameTime == lastComparedTime_) return;
  if (!previous.Bitmap.isNull() && current.FrameTime - previous.FrameTime < kMotionMinimumSpacing &&
      previous.FrameTime - current.FrameTime < kMotionMinimumSpacing)
    return;
  // The limit counts from the last detection, in the frames' times (a frame before it, after a
  // seek back, is not held).
  if (MotionDetector_MaxDetectionsPerSecond_ > 0 && lastDetectionTime_ != INT64_MIN) {
    const int64_t since = current.FrameTime - lastDetectionTime_;
    if (since >= 0 && double(since) < 10'000'000.0 / MotionDetector_MaxDetectionsPerSecond_) return;
  }
  lastComparedNumber_ = current.FrameNumber;
  lastComparedTime_ = current.FrameTime;
  TImplMotionDetector& d = motionDetector_;
  d.Enabled = true;
  d.CompareRed = MotionDetector_CompareRed_;
  d.CompareGreen = MotionDetector_CompareGreen_;
  d.CompareBlue = MotionDetector_CompareBlue_;
  d.GreyScale = MotionDetector_GreyScale_;
  d.ReduceVideoNoise = MotionDetector_ReduceVideoNoise_;
  d.RequestedStep = MotionDetector_ReduceCPULoad_;
  if (!MotionDetector_Grid_.isEmpty() && MotionDetector_Grid_ != d.GridText()) d.SetGrid(MotionDetector_Grid_);
  // The detector reads the pictures only; views over them take no copy.
  const PictureFrame a = previous.Bitmap.isNull() ? PictureFrame{} : FrameOfPicture(previous.Bitmap);
  const PictureFrame b = FrameOfPicture(current.Bitmap);
  const bool level = d.Detect(a.valid ? &a.bits : nullptr, b.valid ? &b.bits : nullptr, previous.FrameNumber,
                              current.FrameNumber);
  if (level) lastDetectionTime_ = current.FrameTime;
  if (current.FrameNumber <= 3 || destroying_) return;
  bool captureFrame = false;
  if (level) {
    if (slots_->OnMotionDetected) slots_->OnMotionDetected(host_.sender, d.Level(), current, captureFrame);
  } else if (slots_->OnMotionNotDetected) {
    slots_->OnMotionNotDetected(host_.sender, current, captureFrame);
  }
}

}  // namespace kestrom::engine
