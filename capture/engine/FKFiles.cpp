// Recording files: naming the recording and writing files, the disk checks, the preallocated
// capture file, switching files during a recording, and producing the recording file from the
// writing file once the recording stopped.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "capture/engine/SyncManager.h"
#include "platform/com/ComRuntime.h"
#include "platform/core/Paths.h"
#include "platform/dshow/base/Guids.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::SUCCEEDED;

QString TFK::StorageFolder() {
  QString folder = QDir::fromNativeSeparators(StoragePath_);
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  ForceDirectories(folder);
  return folder;
}

QString TFK::MakeRecordingFileNames() {
  recordingFile_.clear();
  writingFile_.clear();
  if (PreallocCapFileEnabled_ || snapshot_.compressionMode == cm_CompressAfterRecording) {
    writingFile_ = PreallocCapFileName_.isEmpty()
                       ? core::JoinPath(StorageFolder(), (host_.sender ? host_.sender->objectName() : QString()) + QStringLiteral(".rec"))
                       : PreallocCapFileName_;
    if (!PreallocCapFileCopiedAfterRecording_) recordingFile_ = writingFile_;
  }
  if (recordingFile_.isEmpty()) {
    if (!RecordingFileName_.isEmpty() && RecordingFileName_ != QLatin1String("RENEW")) {
      recordingFile_ = RecordingFileName_;
    } else {
      const QString folder = StorageFolder(), ext = CaptureFileExtension();
      QString stamp;
      if (AutoFileName_ == fn_DateTime) {
        stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyMMdd_hhmmss_zzz"));
      } else {
        stamp = QStringLiteral("%1").arg(NextSequentialNumber(folder, AutoFilePrefix_, ext), 6, 10, QLatin1Char('0'));
        sequentialIndex_ = SequentialIndexOf(folder, AutoFilePrefix_, ext);
      }
      recordingFile_ = folder + AutoFilePrefix_ + stamp + QLatin1Char('.') + ext;
    }
  }
  if (writingFile_.isEmpty()) writingFile_ = recordingFile_;
  if (!EnoughDiskSpace(recordingFile_)) {
    CheckAndLog(this, true, ll_Error, QStringLiteral("disk full!"), TLogType::e_disk_full);
    Fire(&TFKEvents::OnDiskFull);
    writingFile_.clear();
    return QString();
  }
  const QString folder = StorageFolder();
  const int kind = DriveKind(folder);
  CheckAndLog(this, kind == 1, ll_Warning,
              QStringLiteral("StoragePath= ") + folder +
                  QStringLiteral("\r\nNetwork drives or slow drives may produce high rate of dropped frames"),
              TLogType::w_storage_path_on_network);
  CheckAndLog(this, kind == 2, ll_Error,
              QStringLiteral("StoragePath= ") + folder + QStringLiteral("\r\nstorage set on read-only drive"),
              TLogType::e_storage_path_read_only);
  if (PreallocCapFileEnabled_) {
    const int writingKind = DriveKind(writingFile_);
    CheckAndLog(this, writingKind == 1, ll_Warning,
                QStringLiteral("PreallocCapFile= ") + writingFile_ +
                    QStringLiteral("\r\nNetwork drives or slow drives may produce high rate of dropped frames"),
                TLogType::w_storage_path_on_network);
    CheckAndLog(this, writingKind == 2, ll_Error,
                QStringLiteral("PreallocCapFile= ") + writingFile_ +
                    QStringLiteral("\r\npreallocated recording file set on read-only drive"),
                TLogType::e_storage_path_read_only);
    PrepareCaptureFile(builder_.Get(), writingFile_);
  }
  compressAfterRecording_ = snapshot_.compressionMode == cm_CompressAfterRecording;
  lastRecordingFile_ = recordingFile_;
  lastWritingFile_ = writingFile_;
  return writingFile_;
}

bool TFK::PrepareCaptureFile(ICaptureGraphBuilder2* builder, QString name) {
  if (name.isEmpty())
    name = core::JoinPath(StorageFolder(), (host_.sender ? host_.sender->objectName() : QString()) + QStringLiteral(".rec"));
  const QString quoted = QLatin1Char('"') + name + QLatin1Char('"');
  const QFileInfo existing(name);
  if (existing.exists()) {
    if ((existing.size() >> 20) >= PreallocCapFileSizeInMB_) {
      CheckAndLog(this, true, ll_Info, QStringLiteral("prealloc. cap. file ") + quoted + QStringLiteral(" large enough"),
                  TLogType::i_preallocated_file_size_large_enough);
      return true;
    }
    QFile::remove(name);
    CheckAndLog(this, true, ll_Info, QStringLiteral("resizing prealloc. cap. file ") + quoted + QStringLiteral("..."),
                TLogType::i_preallocated_file_size_changed);
  }
  Fire(&TFKEvents::OnCreatePreallocFileStarted, name);
  ComPtr<ICaptureGraphBuilder2> own;
  if (!builder &&
      CreateInstanceLogged(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, own.PutVoid(), QStringLiteral("Graph Builder")))
    builder = own.Get();
  const std::u16string file = name.toStdU16String();
  const bool ok = builder && SUCCEEDED(builder->AllocCapFile(file.c_str(), uint64_t(PreallocCapFileSizeInBytes())));
  CheckAndLog(this, !ok, ll_Error, QStringLiteral("cannot allocate capture file  ") + quoted,
              TLogType::e_failed_to_allocate_recording_file);
  Fire(&TFKEvents::OnCreatePreallocFileCompleted, name, ok);
  return ok;
}

void TFK::RenewRecordingFile() {
  if (!fileSink_ || state_ != cs_Recording) return;
  if (CheckAndLog(this, PreallocCapFileEnabled_, ll_Error,
                  QStringLiteral("creating a new AVI file during recording not allowed when using a preallocated file"),
                  TLogType::e_failed_to_create_file) ||
      CheckAndLog(this, snapshot_.compressionMode == cm_CompressAfterRecording, ll_Error,
                  QStringLiteral("creating a new AVI file during Recording not allowed when reencoding after capture"),
                  TLogType::e_failed_to_create_file))
    return;
  const int runState = runState_;
  // Stopping the graph makes the writer finish and close its file: that is the closed file's success.
  const bool closed = SetGraphState(0, QStringLiteral("ncfdac"));
  const QString closedFile = recordingFile_, closedWritingFile = writingFile_;
  Fire(&TFKEvents::OnRecordingCompleted, closedFile, closed);
  if (closed) lastRecordedFile_ = closedFile;
  const int previousIndex = sequentialIndex_;
  sequentialIndex_ = -1;
  const QString next = MakeRecordingFileNames();
  const std::u16string file = next.toStdU16String();
  if (next.isEmpty() || FAILED(fileSink_->SetFileName(file.c_str(), nullptr))) {
    // No new file: the graph stays stopped and the recording's file is the one just closed. Its
    // completion has been told, so the stop that ends this recording tells none again.
    if (sequentialIndex_ != -1) ReleaseSequentialNumber(sequentialIndex_);
    sequentialIndex_ = previousIndex;
    recordingFile_ = lastRecordingFile_ = closedFile;
    writingFile_ = lastWritingFile_ = closedWritingFile;
    recordingWritingStarted_ = false;
    return;
  }
  SetGraphState(runState, QStringLiteral("ncfdac2"));
  Fire(&TFKEvents::OnRecordingStarted, recordingFile_);
}

bool TFK::FinishRecordingFile() {
  const bool copyDue = PreallocCapFileEnabled_ && !compressAfterRecording_ && PreallocCapFileCopiedAfterRecording_;
  const bool reencodeDue = compressAfterRecording_;
  compressAfterRecording_ = false;
  // The teardown has cleared the engine's names; these are the stopped recording's.
  const QString writing = lastWritingFile_, recording = lastRecordingFile_;
  const bool audio = snapshot_.audioRecording;  // as the recording was made
  if (copyDue) {
    Fire(&TFKEvents::OnCopyPreallocDataStarted, writing, recording);
    const bool ok = Reencode(writing, recording, true, false, false, false, audio);
    Fire(&TFKEvents::OnCopyPreallocDataCompleted, writing, recording, ok);
    return ok;
  }
  if (reencodeDue) {
    Fire(&TFKEvents::OnReencodingStarted, writing, recording);
    const int type = CompressionType_;
    const bool ok = Reencode(writing, recording, false, type == ct_Audio || type == ct_AudioVideo,
                             type == ct_Video || type == ct_AudioVideo, false, audio);
    Fire(&TFKEvents::OnReencodingCompleted, writing, recording, ok);
    return ok;
  }
  return true;
}

}  // namespace kestrom::engine
