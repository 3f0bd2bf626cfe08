#pragma once
// What the analysis window and the export program KestromExportAVI share: the frame files in the
// working folder's Temp, the program's five arguments, the emptying of Temp before an export,
// and the two messages the program answers with (0x2741 and VideoCreatedNotice).

#include "platform/core/TextFile.h"
#include "platform/winmsg/WinMsg.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

namespace kestrom::exportavi {

/** @brief Posted by the export program to every analysis window when it has finished, however it ended. */
inline constexpr uint32_t WM_EXPORTFINISHED = 0x2741;

/** @brief Window class of the analysis windows, to which the export program answers. */
inline const QString kAnalysisWindowClass = QStringLiteral("TKestromForm");

/** @brief Longest text a VideoCreatedNotice carries. */
inline constexpr int kVideoCreatedTextMax = 100;

/** @brief The file of frame n (counted from 0) in the Temp folder: "Sample" + (n + 100) + ".bmp". */
QString ExportFrameFile(const QString& tempFolder, int64_t frame);

/**
 * @brief Writes a frame file as a 24-bit BMP. Frame files are scratch for the export program,
 * which checks every one it reads: they are written straight, without the flush to disk of a
 * safe save, which would double each export step.
 */
core::WriteResult WriteExportFrame(const QString& path, const QImage& picture);

/**
 * @brief Writes the area of a picture (the frame's rectangle of the window canvas) as a frame
 * file, straight from the picture's rows: no copy of the area is made first. The area must lie
 * within the picture.
 */
core::WriteResult WriteExportFrame(const QString& path, const QImage& canvas, const QRect& area);

/**
 * @brief The export program's five arguments: the rate formatted "00000.00", the video file, the
 * number of frames, the frame width and height. Each is one argument, whatever it holds.
 */
QStringList ExportCommandLine(double framesPerSecond, const QString& file, int64_t frames, int width, int height);

/** @brief The export program's arguments, read. */
struct ExportArguments {
  double rate = 25.0;  // frames per second
  QString file;        // the video to make
  int count = 0;       // frames Sample101.bmp to Sample(100 + count).bmp
  int width = 0;
  int height = 0;
};

/** @brief Reads the five arguments; nothing, and the reason, when any is missing or wrong. */
std::optional<ExportArguments> ParseExportArguments(const QStringList& arguments, QString* error);

/**
 * @brief Deletes every file of the folder in one pass (remove is the deletion, for tests); the
 * names of the files still there afterwards, empty when the folder holds no file.
 */
QStringList EmptyFolder(const QString& folder, const std::function<bool(const QString&)>& remove = {});

/**
 * @brief True when a file can be made in the folder (a probe file is made and removed); otherwise
 * false with the reason.
 */
bool FolderTakesFiles(const QString& folder, QString* reason);

/** @brief The bytes of a VideoCreatedNotice: the video's path (UTF-8) and a terminating zero byte. */
QByteArray VideoCreatedRecord(const QString& path);

/**
 * @brief What the export program tells the analysis windows at its end: the VideoCreatedNotice
 * for a made video (empty: none was made) to the first analysis window, sent from the window
 * `from`; then 0x2741 to every analysis window.
 */
void AnnounceExportEnd(const QString& createdVideo, winmsg::HWND from);

/**
 * @brief The text of a VideoCreatedNotice: the bytes up to the first zero byte or the byte count,
 * read as UTF-8 (Windows-1252 when they are not), at most 100 characters.
 */
QString VideoCreatedText(const winmsg::CopyData& data);

}  // namespace kestrom::exportavi
