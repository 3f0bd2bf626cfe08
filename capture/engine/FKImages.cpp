// Video from images: a folder of pictures packed into one file that the push source plays.
//
// The images file: a little-endian 32-bit count, then per picture a 32-bit size and that many
// bytes holding one whole BMP file. Every picture has the same info header, so the first
// record's header (with its palette) is the format of the stream.
#include "capture/engine/FK.h"

#include "capture/engine/SyncManager.h"
#include "platform/com/ComRuntime.h"
#include "platform/core/Bmp.h"
#include "platform/core/Format.h"
#include "platform/jpeg/Jpeg.h"

#include <QDateTime>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <deque>
#include <future>
#include <limits>

namespace kestrom::engine {

using M = TFKMethod;
using com::E_FAIL;
using com::E_POINTER;
using com::HRESULT;
using com::S_OK;
using dshow::BOOL;
using dshow::BYTE;
using dshow::LONG;

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
// A picture file larger than this is not one of the pictures this packs (and its record size
// would not fit the file's 32-bit field).
constexpr qint64 kMaxPictureSize = qint64(1) << 30;

enum class PictureKind { None, Bitmap, Jpeg };

PictureKind KindOf(const QString& name) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return PictureKind::None;
  const QString ext = name.mid(dot + 1).toUpper();
  if (ext == QLatin1String("BMP")) return PictureKind::Bitmap;
  if (ext == QLatin1String("JPG") || ext == QLatin1String("JPEG") || ext == QLatin1String("JPE"))
    return PictureKind::Jpeg;
  return PictureKind::None;
}

uint32_t U32(const char* p) { return qFromLittleEndian<uint32_t>(p); }
int32_t S32(const char* p) { return qFromLittleEndian<int32_t>(p); }
uint16_t U16(const char* p) { return qFromLittleEndian<uint16_t>(p); }

/** @brief A file's modification time as a packed date-time (date in the high word, seconds halved). */
uint32_t PackedFileTime(const QDateTime& modified) {
  const QDateTime local = modified.toLocalTime();
  const QDate d = local.date();
  const QTime t = local.time();
  if (!d.isValid() || d.year() < 1980) return (1u << 21) | (1u << 16);  // the earliest it holds: 1980-01-01
  const uint32_t year = uint32_t(std::min(d.year() - 1980, 127));
  return (year << 25) | (uint32_t(d.month()) << 21) | (uint32_t(d.day()) << 16) | (uint32_t(t.hour()) << 11) |
         (uint32_t(t.minute()) << 5) | uint32_t(t.second() / 2);
}

/** @brief Bytes from one pixel row to the next: rows padded to 4 bytes. */
int64_t RowStride(int64_t width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }

/**
 * @brief Why the bytes are not a BMP file the push source can play (empty when they are): the
 * headers hold together and the pixel data the header promises is in the file. The last row may
 * lack its padding, as some writers leave it out.
 */
QString BitmapFault(const QByteArray& bytes) {
  const int64_t size = bytes.size();
  const char* p = bytes.constData();
  if (size < kFileHeaderSize + kInfoHeaderSize || p[0] != 'B' || p[1] != 'M') return QStringLiteral("not a BMP file");
  const uint32_t infoSize = U32(p + kFileHeaderSize);
  if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124)
    return QStringLiteral("unsupported BMP header");
  const char* info = p + kFileHeaderSize;
  const int64_t width = S32(info + 4), rawHeight = S32(info + 8);
  const int bitCount = U16(info + 14);
  const uint32_t compression = U32(info + 16);
  const int64_t height = rawHeight < 0 ? -rawHeight : rawHeight;
  if (width <= 0 || height == 0 || width > 65535 || height > 65535) return QStringLiteral("bad picture size");
  if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    return QStringLiteral("unsupported depth");
  if (compression != 0 && compression != 3) return QStringLiteral("compressed pixels");
  const int64_t pixelOffset = U32(p + 10);
  if (pixelOffset < kFileHeaderSize + int64_t(infoSize) || pixelOffset > size)
    return QStringLiteral("pixel offset outside the file");
  const int64_t needed = RowStride(width, bitCount) * (height - 1) + (width * bitCount + 7) / 8;
  if (size - pixelOffset < needed) return QStringLiteral("too little pixel data");
  return QString();
}

/** @brief The picture as a BMP file in memory; empty with the reason when it cannot be read or decoded. */
QByteArray LoadPicture(const QString& path, PictureKind kind, QString& why) {
  if (kind == PictureKind::Jpeg) {
    QImage picture;
    try {
      picture = jpeg::DecompressFile(path);
    } catch (const std::exception& e) {
      why = QString::fromLocal8Bit(e.what());
      return QByteArray();
    }
    QByteArray bytes = core::EncodeBmp(picture);
    if (bytes.isEmpty()) why = QStringLiteral("no picture");
    return bytes;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    why = file.errorString();
    return QByteArray();
  }
  if (file.size() > kMaxPictureSize) {
    why = QStringLiteral("file too large");
    return QByteArray();
  }
  QByteArray bytes = file.readAll();
  why = BitmapFault(bytes);
  return why.isEmpty() ? bytes : QByteArray();
}

bool WriteInt32(QFile& file, int32_t value) {
  char bytes[4];
  qToLittleEndian(value, bytes);
  return file.write(bytes, 4) == 4;
}

bool ReadInt32(QFile& file, int32_t& value) {
  char bytes[4];
  if (file.read(bytes, 4) != 4) return false;
  value = qFromLittleEndian<int32_t>(bytes);
  return true;
}

struct TListedPicture {
  QString name;
  uint32_t fileTime = 0;
};

/** @brief One listed file as loaded: gone, read (a BMP file in memory), or not readable and why. */
struct TLoadedPicture {
  bool exists = false;
  QByteArray bytes;
  QString why;
};

TLoadedPicture LoadListedPicture(const QString& path, PictureKind kind) {
  TLoadedPicture loaded;
  loaded.exists = QFileInfo(path).isFile();
  if (!loaded.exists) return loaded;
  try {
    loaded.bytes = LoadPicture(path, kind, loaded.why);
  } catch (const std::exception& e) {  // out of memory for one picture: that picture is skipped
    loaded.bytes.clear();
    loaded.why = QString::fromLocal8Bit(e.what());
  }
  return loaded;
}

/**
 * @brief Loads the listed pictures on worker threads a few ahead of the one being written, and
 * hands them back in list order: decoding, not writing, is what a packing waits for.
 */
class TPictureLoader {
 public:
  TPictureLoader(const QString& folder, const std::vector<TListedPicture>& list, PictureKind kind)
      : folder_(folder), list_(list), kind_(kind), ahead_(std::clamp(QThread::idealThreadCount(), 1, 4)) {}
  TLoadedPicture Take(size_t index) {
    while (next_ < list_.size() && next_ <= index + ahead_) {
      const QString path = folder_ + list_[next_].name;
      const PictureKind kind = kind_;
      pending_.push_back(std::async(std::launch::async, [path, kind] { return LoadListedPicture(path, kind); }));
      ++next_;
    }
    TLoadedPicture loaded = pending_.front().get();
    pending_.pop_front();
    return loaded;
  }

 private:
  QString folder_;
  const std::vector<TListedPicture>& list_;
  PictureKind kind_;
  size_t ahead_;
  size_t next_ = 0;
  std::deque<std::future<TLoadedPicture>> pending_;  // waited for when the packing ends early
};

}  // namespace

std::unique_ptr<QFile> TFK::OpenFileStream(const QString& name, QIODevice::OpenMode mode) {
  auto file = std::make_unique<QFile>(name);
  if (name.isEmpty() || !file->open(mode)) return nullptr;
  return file;
}

bool TFK::ImagesStreamOpen() const {
  std::lock_guard lock(imagesLock_);
  return imagesStream_ != nullptr;
}

void TFK::CloseImagesStream() {
  std::lock_guard lock(imagesLock_);
  imagesStream_.reset();
  imagesStreamName_.clear();
  imagesCount_ = 0;
}

bool TFK::CreateVideoFromImagesFile() {
  if (writingImagesFile_) return false;
  if (!CheckPreconditions(M::CreateVideoFromImagesFile)) return false;
  const QString fileName = VideoFromImages_TemporaryFile_;
  {
    std::lock_guard lock(imagesLock_);
    const bool inUse = imagesStream_ && QFileInfo(imagesStreamName_).absoluteFilePath() ==
                                            QFileInfo(fileName).absoluteFilePath();
    if (CheckAndLog(this, inUse, ll_Error, QStringLiteral("file already in use: ") + fileName,
                    TLogType::e_file_in_use))
      return false;
  }
  std::unique_ptr<QFile> file = OpenFileStream(fileName, QIODevice::WriteOnly | QIODevice::Truncate);
  if (CheckAndLog(this, !file, ll_Error, QStringLiteral("failed to create file: ") + fileName,
                  TLogType::e_failed_to_create_file))
    return false;
  // Whatever ends the packing, the file is closed and the next packing may start.
  writingImagesFile_ = true;
  const auto done = qScopeGuard([&] {
    file.reset();
    writingImagesFile_ = false;
  });
  const auto progress = [&](int32_t percent, int64_t item, const QString& text) {
    Fire(&TFKEvents::OnBitmapsLoadingProgress, TProgressInfo{percent, item, 0, text});
  };

  const QString asSet = VideoFromImages_SourceDirectory_;
  QString folder = asSet.isEmpty() ? QStringLiteral(".") : asSet;
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  if (!QFileInfo(folder).isDir()) QDir().mkpath(folder);
  if (CheckAndLog(this, !QFileInfo(folder).isDir(), ll_Error,
                  QStringLiteral("invalid bitmaps source directory: ") + asSet, TLogType::e_invalid_directory))
    return false;
  progress(-1, 0, QStringLiteral("loading bitmaps from ") + folder);

  // Directory order is arbitrary: the first recognised name in name order fixes the kind.
  QFileInfoList entries =
      QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
  std::sort(entries.begin(), entries.end(),
            [](const QFileInfo& a, const QFileInfo& b) { return a.fileName().compare(b.fileName()) < 0; });
  PictureKind kind = PictureKind::None;
  std::vector<TListedPicture> list;
  for (const QFileInfo& entry : entries) {
    if (!entry.isFile()) continue;
    const PictureKind k = KindOf(entry.fileName());
    if (k == PictureKind::None || (kind != PictureKind::None && k != kind)) continue;
    kind = k;
    list.push_back({entry.fileName(), PackedFileTime(entry.lastModified())});
  }
  if (CheckAndLog(this, list.empty(), ll_Error, QStringLiteral("sorry, there is no BMP or JPEG files in ") + asSet,
                  TLogType::e_file_not_found))
    return false;

  // The names' numbers count by value, so "Sample1000" follows "Sample999" as a person expects.
  const auto byName = [](const TListedPicture& a, const TListedPicture& b) {
    return core::CompareNumberedNames(a.name, b.name) < 0;
  };
  std::sort(list.begin(), list.end(), byName);
  switch (VideoFromImages_BitmapsSortedBy_) {
    case fs_TimeDesc: std::reverse(list.begin(), list.end()); break;
    case fs_NameAsc:
      std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.fileTime < b.fileTime; });
      break;
    case fs_NameDesc:
      std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.fileTime > b.fileTime; });
      break;
    default: break;
  }

  const auto writeFailed = [&] {
    CheckAndLog(this, true, ll_Error, QStringLiteral("failed to write file: ") + fileName + QStringLiteral(" (") +
                                          file->errorString() + QLatin1Char(')'),
                TLogType::e_failed_to_load_set_of_bitmaps);
    return false;
  };
  if (!WriteInt32(*file, 0)) return writeFailed();
  const int64_t n = int64_t(list.size());
  int32_t count = 0;
  QByteArray reference;
  TPictureLoader loader(folder, list, kind);
  for (int64_t i = 0; i < n; ++i) {
    const QString& name = list[size_t(i)].name;
    const TLoadedPicture loaded = loader.Take(size_t(i));
    if (!loaded.exists) continue;
    const int32_t percent = int32_t(core::Nearest(double(i * 100 + 100) / double(n)));
    const QByteArray& picture = loaded.bytes;
    if (picture.isEmpty()) {
      CheckAndLog(this, true, ll_Warning,
                  QStringLiteral("CANNOT READ: ") + name + QStringLiteral(" (") + loaded.why + QLatin1Char(')'),
                  TLogType::e_failed_to_load_set_of_bitmaps);
      progress(percent, -1, QStringLiteral("CANNOT READ: ") + name);
      continue;
    }
    const QByteArray info = picture.mid(kFileHeaderSize, kInfoHeaderSize);
    if (reference.isEmpty()) reference = info;
    if (info != reference) {
      progress(percent, -1, QStringLiteral("SIZE/FORMAT MISMATCH: ") + name);
      continue;
    }
    if (!WriteInt32(*file, int32_t(picture.size())) || file->write(picture) != picture.size()) return writeFailed();
    ++count;
    progress(percent, i, QStringLiteral("loading ") + name);
  }
  if (!file->seek(0) || !WriteInt32(*file, count) || !file->flush()) return writeFailed();
  progress(-1, n - 1, QString::number(count) + QStringLiteral(" bitmaps written to ") + fileName);
  return count > 0;
}

bool TFK::CreateImagesGraph() {
  if (ImagesStreamOpen()) return true;
  if (!CreateFilterGraph()) return false;
  const QString fileName = VideoFromImages_TemporaryFile_;
  if (QFileInfo::exists(fileName)) {
    std::unique_ptr<QFile> stream = OpenFileStream(fileName, QIODevice::ReadOnly);
    if (CheckAndLog(this, !stream, ll_Error, QStringLiteral("cannot open file: ") + fileName,
                    TLogType::e_failed_to_load_set_of_bitmaps))
      return false;
    int32_t count = 0;
    if (!ReadInt32(*stream, count)) count = 0;
    {
      std::lock_guard lock(imagesLock_);
      imagesStream_ = std::move(stream);
      imagesStreamName_ = fileName;
      imagesCount_ = count;
    }
    if (!CreatePushSourceFilter(&TFK::PushSourceFill, this, &TFK::PushSourceFormat, previewPin_)) return false;
  }
  FindAudioSourcePin();
  return true;
}

HRESULT TFK::PushSourceFormat(void* data, LONG* formatSize, BYTE** format, BYTE** buffer) {
  auto* self = static_cast<TFK*>(data);
  if (!self || !formatSize || !format || !buffer) return E_POINTER;
  *formatSize = 0;
  *format = *buffer = nullptr;
  std::lock_guard lock(self->imagesLock_);
  if (!self->imagesStream_) return E_FAIL;
  QFile& f = *self->imagesStream_;
  const auto rewind = [&] {
    int32_t count = 0;
    if (f.seek(0) && ReadInt32(f, count)) self->imagesCount_ = count;
  };
  int32_t count = 0, size = 0;
  // The first record's headers: its size must lie within the file, its pixels after its headers.
  const bool readable = f.seek(0) && ReadInt32(f, count) && count > 0 && ReadInt32(f, size) &&
                        size >= kFileHeaderSize + kInfoHeaderSize && size <= f.size() - f.pos();
  if (!readable) {
    rewind();
    return E_FAIL;
  }
  auto* record = static_cast<BYTE*>(com::CoTaskMemAlloc(size_t(size)));
  if (!record) {
    rewind();
    return com::E_OUTOFMEMORY;
  }
  const int64_t pixelOffset = f.read(reinterpret_cast<char*>(record), size) == size
                                  ? int64_t(U32(reinterpret_cast<const char*>(record) + 10))
                                  : -1;
  rewind();
  if (pixelOffset < kFileHeaderSize + kInfoHeaderSize || pixelOffset > size) {
    com::CoTaskMemFree(record);
    return E_FAIL;
  }
  *buffer = record;
  *format = record + kFileHeaderSize;
  *formatSize = LONG(pixelOffset - kFileHeaderSize);
  return S_OK;
}

HRESULT TFK::PushSourceFill(void* data, BYTE* buffer, LONG size, BOOL* endOfStream) {
  auto* self = static_cast<TFK*>(data);
  return self ? self->FillFromImagesStream(buffer, size, endOfStream) : E_POINTER;
}

HRESULT TFK::FillFromImagesStream(BYTE* buffer, LONG size, BOOL* endOfStream) {
  if (!endOfStream || (!buffer && size > 0) || size < 0) return E_POINTER;
  *endOfStream = 0;
  std::lock_guard lock(imagesLock_);
  if (!imagesStream_) return E_FAIL;
  QFile& f = *imagesStream_;
  const auto rewind = [&] {
    int32_t count = 0;
    if (f.seek(0) && ReadInt32(f, count)) imagesCount_ = count;
  };
  if (f.pos() >= f.size()) {
    rewind();
    if (!imagesRepeat_) {
      *endOfStream = 1;
      return S_OK;
    }
    // Playback goes on from the first picture; the component hears of the wrap.
    endOfStreamPending_ = true;
    PostDispatch();
  }
  // A record that does not fit the file, or whose pixels do not start inside it, ends the stream:
  // a truncated or foreign file is never read past.
  const int64_t start = f.pos();
  int32_t recordSize = 0;
  char header[kFileHeaderSize];
  if (!ReadInt32(f, recordSize) || recordSize < kFileHeaderSize + kInfoHeaderSize ||
      recordSize > f.size() - f.pos() || f.read(header, kFileHeaderSize) != kFileHeaderSize) {
    f.seek(f.size());
    *endOfStream = 1;
    return S_OK;
  }
  const int64_t pixelOffset = U32(header + 10);
  if (pixelOffset < kFileHeaderSize + kInfoHeaderSize || pixelOffset > recordSize) {
    f.seek(f.size());
    *endOfStream = 1;
    return S_OK;
  }
  const int64_t recordStart = start + 4;
  const int64_t available = recordSize - pixelOffset;
  const int64_t wanted = std::min<int64_t>(size, available);
  int64_t got = 0;
  if (f.seek(recordStart + pixelOffset) && wanted > 0) got = std::max<int64_t>(f.read(reinterpret_cast<char*>(buffer), wanted), 0);
  if (got < size) std::memset(buffer + got, 0, size_t(size - got));
  f.seek(recordStart + recordSize);
  return S_OK;
}

}  // namespace kestrom::engine
