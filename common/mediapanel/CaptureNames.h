#pragma once
// Names of the picture files the media panel saves: StoragePath, AutoFilePrefix and a stem that is
// either a six-digit sequence number or the date and time to the millisecond. A generated name
// never names a file that exists already.

#include <QDateTime>
#include <QString>

namespace kestrom::mediapanel {

enum class TAuto_Filename { fnSequential, fnDateTime };

struct CaptureNaming {
  QString storagePath;
  QString prefix = QStringLiteral("am");
  TAuto_Filename mode = TAuto_Filename::fnSequential;
};

/**
 * @brief Raises counter to the largest number N of the files prefix + N + "." + extension in the
 * storage folder (extension matched without case); names whose N is not a number that fits the
 * counter are ignored; the counter is never lowered.
 */
void FindFreeSequenceNumber(int& counter, const QString& extension, const CaptureNaming& naming);

/**
 * @brief The next file name: sequential names scan the folder when the counter is 0 and go on to
 * the next number whose file does not exist; date-time names ("yymmdd_hhmmss_zzz" of now) go on to
 * the next free millisecond. Empty when no free sequence number is left.
 */
QString NextCaptureFileName(int& counter, const QString& extension, const CaptureNaming& naming,
                            const QDateTime& now = QDateTime::currentDateTime());

}  // namespace kestrom::mediapanel
