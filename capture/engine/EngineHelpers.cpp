#include "capture/engine/EngineHelpers.h"

#include "capture/engine/EngineComponent.h"
#include "platform/core/Paths.h"
#include "platform/registry/Registry.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QScreen>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace kestrom::engine {

// ---- audio formats ----

std::optional<TPcmFormat> AudioFormatOf(int value) {
  static constexpr int rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
  if (value < 0 || value > 28) return std::nullopt;
  TPcmFormat f;
  if (value > 0) {
    const int i = value - 1;
    f.SamplesPerSec = rates[i / 4];
    f.BitsPerSample = (i % 4) < 2 ? 8 : 16;
    f.Channels = (i % 2) == 0 ? 1 : 2;
  }
  f.BlockAlign = f.Channels * f.BitsPerSample / 8;
  f.AvgBytesPerSec = f.BlockAlign * f.SamplesPerSec;
  return f;
}

QStringList AudioFormatNames() {
  QStringList names{QStringLiteral("default")};
  for (int v = 1; v <= 28; ++v) {
    const TPcmFormat f = *AudioFormatOf(v);
    names << QStringLiteral("%1 Hz, %2-bit %3")
                 .arg(f.SamplesPerSec)
                 .arg(f.BitsPerSample)
                 .arg(f.Channels == 1 ? QStringLiteral("Mono") : QStringLiteral("Stereo"));
  }
  return names;
}

// ---- name tables ----

QStringList AnalogVideoStandardNames(uint32_t mask) {
  static const std::pair<uint32_t, const char*> table[] = {
      {0x1, "NTSC M"},        {0x2, "NTSC M J"},     {0x4, "NTSC 433"},     {0x10, "PAL B"},
      {0x20, "PAL D"},        {0x80, "PAL H"},       {0x100, "PAL I"},      {0x200, "PAL M"},
      {0x400, "PAL N"},       {0x800, "PAL 60"},     {0x1000, "SECAM B"},   {0x2000, "SECAM D"},
      {0x4000, "SECAM G"},    {0x8000, "SECAM H"},   {0x10000, "SECAM K"},  {0x20000, "SECAM K1"},
      {0x40000, "SECAM L"},   {0x80000, "SECAM L1"}, {0x100000, "PAL N COMBO"}};
  QStringList names;
  for (const auto& [bit, name] : table)
    if (mask & bit) names << QString::fromLatin1(name);
  return names;
}

namespace {
struct DVCommandInfo {
  int mode;
  const char* label;
};
constexpr DVCommandInfo kDVCommands[] = {
    {4296, "play"},        {4297, "stop"},          {4298, "freeze"},      {4299, "thaw"},
    {4300, "ff"},          {4301, "rew"},           {4302, "record"},      {4904, "record freeze"},
    {4303, "record strobe"}, {4304, "fwd"},         {4905, "rev"},         {4305, "shuttle"},
    {5029, "fastest fwd"}, {5030, "slowest fwd"},   {5031, "fastest rev"}, {5032, "slowest rev"}};
}  // namespace

int DVCommandMode(int command) {
  if (command < 0 || command >= static_cast<int>(std::size(kDVCommands))) return 0;
  return kDVCommands[command].mode;
}

QString DVModeName(int mode) {
  for (const auto& c : kDVCommands)
    if (c.mode == mode) return QString::fromLatin1(c.label);
  return QStringLiteral("-");
}

QString ThirdPartySlotName(int slot) {
  static const char* const names[] = {"video source", "video preview", "video capture",
                                      "audio source", "audio render",  "audio capture"};
  if (slot < 0 || slot >= 6) return {};
  return QString::fromLatin1(names[slot]);
}

// ---- media types ----

int BitmapHeaderOffset(int kind) {
  switch (kind) {
    case 0:
    case 3: return 48;
    case 1:
    case 4: return 72;
    default: return -1;
  }
}

QString SubtypeName(const QString& subtype) {
  if (subtype.size() < 15 || !subtype.startsWith(QLatin1Char('{')) || subtype.at(9) != QLatin1Char('-'))
    return {};
  const QString upper = subtype.toUpper();
  if (upper.startsWith(QLatin1String("{E436EB")) &&
      upper.mid(9).startsWith(QLatin1String("-524F-11CE-9F53-0020AF0BA770}"))) {
    static const std::pair<const char*, const char*> rgb[] = {
        {"78", "RGB1"}, {"79", "RGB4"}, {"7A", "RGB8"}, {"7B", "RGB565"},
        {"7C", "RGB555"}, {"7D", "RGB24"}, {"7E", "RGB32"}};
    const QString tail = upper.mid(7, 2);
    for (const auto& [code, name] : rgb)
      if (tail == QLatin1String(code)) return QString::fromLatin1(name);
    return QStringLiteral("RGB");
  }
  if (upper == QLatin1String("{E06D8026-DB46-11CF-B4D1-00805F6CBBEA}")) return QStringLiteral("MPEG2");
  // The four-character code: the first four bytes of the class id in memory order.
  bool ok = false;
  const uint32_t data1 = subtype.mid(1, 8).toUInt(&ok, 16);
  if (!ok) return {};
  QString code;
  for (int i = 0; i < 4; ++i) code += QChar(static_cast<char16_t>((data1 >> (8 * i)) & 0xFF));
  return code;
}

QString SubtypeEntryName(const QString& entry) {
  const QString text = entry.trimmed();
  const QString name = SubtypeName(text);
  return name.isEmpty() ? text : name;
}

void BitmapFormatOf(const QString& name, uint32_t& compression, int& bitCount) {
  auto digitsAfter = [&](const QString& prefix, uint32_t comp) {
    if (!name.startsWith(prefix) || name.size() == prefix.size()) return false;
    bool ok = false;
    const int bits = name.mid(prefix.size()).toInt(&ok);
    if (!ok) return false;
    compression = comp;
    bitCount = bits;
    return true;
  };
  auto fourcc = [](const QString& n) {
    const QByteArray b = n.toLatin1();
    return uint32_t(uint8_t(b[0])) | uint32_t(uint8_t(b[1])) << 8 | uint32_t(uint8_t(b[2])) << 16 |
           uint32_t(uint8_t(b[3])) << 24;
  };
  if (digitsAfter(QStringLiteral("RGB"), 0) || digitsAfter(QStringLiteral("BITF"), 3)) return;
  if (name == QLatin1String("RLE8")) {
    compression = 1;
    bitCount = 8;
  } else if (name == QLatin1String("RLE4")) {
    compression = 2;
    bitCount = 4;
  } else if (name == QLatin1String("YUY2") || name == QLatin1String("UYVY")) {
    compression = fourcc(name);
    bitCount = 16;
  } else if (name == QLatin1String("YV12") || name == QLatin1String("IYUV") || name == QLatin1String("I420")) {
    compression = fourcc(name);
    bitCount = 12;
  } else if (name == QLatin1String("YVU9")) {
    compression = fourcc(name);
    bitCount = 9;
  }
}

int64_t BitmapStride(int width, int bitCount) {
  return ((static_cast<int64_t>(width) * bitCount + 31) / 32) * 4;
}

int64_t ImageSize(int width, int height, int bitCount) {
  return std::llabs(static_cast<int64_t>(height)) * BitmapStride(width, bitCount);
}

QString GuidFromText(const QString& text) {
  const QString t = text.trimmed();
  return t.size() == 38 ? t : QString::fromLatin1(NullGuidText);
}

QString UniqueName(const QString& name) {
  return name + QString::number(QRandomGenerator::global()->bounded(2147483647));
}

// ---- drives, folders and files ----

std::optional<QString> DriveOf(const QString& path) {
  auto letterOf = [](const QString& p) -> std::optional<QString> {
    if (p.size() >= 2 && p.at(1) == QLatin1Char(':') && p.at(0).isLetter()) return p.left(2).toUpper();
    return std::nullopt;
  };
  if (auto d = letterOf(path)) return d;
  return letterOf(QDir::currentPath());
}

namespace {
FreeSpaceProbe& Probe() {
  static FreeSpaceProbe probe;
  return probe;
}
}  // namespace

void SetFreeSpaceProbe(FreeSpaceProbe probe) { Probe() = std::move(probe); }

std::optional<uint64_t> VolumeFreeSpace(const QString& path) {
  if (Probe()) return Probe()(path);
  // A file about to be written does not exist yet: measure the volume of its nearest folder.
  QFileInfo info(QDir::current().absoluteFilePath(path));
  QString probe = info.absoluteFilePath();
  while (!probe.isEmpty() && !QFileInfo::exists(probe)) {
    const QString parent = QFileInfo(probe).absolutePath();
    if (parent == probe) break;
    probe = parent;
  }
  return core::FreeSpace(probe);
}

bool EnoughDiskSpace(const QString& path) {
  if (path.isEmpty()) return false;
  return EnoughFreeSpace(VolumeFreeSpace(path));
}

int DriveKind(const QString& path) {
  if (path.isEmpty()) return 0;
  QString probe = QDir::current().absoluteFilePath(path);
  while (!QFileInfo::exists(probe)) {
    const QString parent = QFileInfo(probe).absolutePath();
    if (parent == probe) return 0;
    probe = parent;
  }
  struct statfs st {};
  if (statfs(QFile::encodeName(probe).constData(), &st) != 0) return 0;
  switch (static_cast<unsigned long>(st.f_type)) {
    case 0x6969:      // NFS
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x517B:      // SMB
    case 0x564C:      // NCP
    case 0x65735546:  // FUSE (sshfs and the like)
      return 1;
    case 0x9660:      // ISO 9660
    case 0x15013346:  // UDF
      return 2;
    default: return 0;
  }
}

bool DirectoryExists(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

bool ForceDirectories(const QString& path) {
  if (path.isEmpty() || path.size() < 3 || DirectoryExists(path)) return true;
  QString p = path;
  while (p.size() > 1 && (p.endsWith(QLatin1Char('/')) || p.endsWith(QLatin1Char('\\')))) p.chop(1);
  if (DirectoryExists(p)) return true;
  const QString parent = QFileInfo(p).path();
  if (parent != p && !parent.isEmpty() && !ForceDirectories(parent)) return false;
  return QDir().mkdir(p) || DirectoryExists(p);
}

QString EngineTempFolder() {
  QString base = qEnvironmentVariable("TMPDIR");
  if (base.isEmpty() || !QFileInfo(base).isDir()) base = QStringLiteral("/tmp");
  const QString folder = base + QStringLiteral("/kestrom-") + QString::number(getuid());
  const QByteArray encoded = QFile::encodeName(folder);
  if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST) return {};
  // Only a real folder of our own, closed to others, is trusted with our files.
  struct stat st {};
  if (::lstat(encoded.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return {};
  if ((st.st_mode & 0077) != 0 && ::chmod(encoded.constData(), 0700) != 0) return {};
  return folder;
}

QString TempFileName(const QString& prefix) {
  const QString folder = EngineTempFolder();
  if (folder.isEmpty()) return {};
  QByteArray pattern = QFile::encodeName(folder + QLatin1Char('/') + prefix.left(3)) + "XXXXXX.tmp";
  const int fd = ::mkstemps(pattern.data(), 4);
  if (fd < 0) return {};
  ::close(fd);
  return QFile::decodeName(pattern);
}

void RemoveOldEngineTempFiles() {
  static std::mutex lock;
  static QSet<QString> swept;
  const QString folder = EngineTempFolder();
  if (folder.isEmpty()) return;
  {
    std::lock_guard guard(lock);
    if (swept.contains(folder)) return;
    swept.insert(folder);
  }
  // Files of earlier runs only: another process of ours may have written its module a moment
  // ago and not loaded it yet (here a file can be deleted while it is in use).
  const QDateTime earlier = QDateTime::currentDateTimeUtc().addSecs(-60);
  QDir dir(folder);
  for (const QFileInfo& file : dir.entryInfoList({QStringLiteral("tfk*")}, QDir::Files | QDir::Hidden | QDir::System))
    if (file.lastModified().toUTC() < earlier) dir.remove(file.fileName());
}

QString EngineTempFileName(bool clean) {
  if (clean) RemoveOldEngineTempFiles();
  return TempFileName(QStringLiteral("tfk"));
}

int LastIndexOf(QChar c, const QString& text) { return static_cast<int>(text.lastIndexOf(c)) + 1; }

namespace {
QStringList LinesOf(const QString& text) {
  QStringList lines = text.split(QLatin1Char('\n'));
  for (QString& l : lines)
    if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}
}  // namespace

int IndexOfLine(const QString& text, const QString& line) {
  const QStringList lines = LinesOf(text);
  for (int i = 0; i < lines.size(); ++i)
    if (lines[i].compare(line, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

QString LineAt(const QString& text, int index) {
  const QStringList lines = LinesOf(text);
  return index >= 0 && index < lines.size() ? lines[index] : QString();
}

void MoveToTop(QStringList& list, const QString& line) {
  const qsizetype at = list.indexOf(line);
  if (at > 0) list.move(at, 0);
}

// ---- monitors ----

namespace {
std::mutex monitorMutex;
std::array<TMonitorInfo, 10> monitors;
bool monitorsSet = false;
}  // namespace

void FillMonitorTable() {
  std::lock_guard lock(monitorMutex);
  for (int i = 0; i < 10; ++i) monitors[i] = TMonitorInfo{false, {}, nullptr, 0, i};
  monitorsSet = true;
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  const QList<QScreen*> screens = QGuiApplication::screens();
  for (int i = 0; i < screens.size() && i < 10; ++i) {
    monitors[i].Exists = true;
    monitors[i].Rect = screens[i]->geometry();
    monitors[i].Handle = screens[i];
  }
}

void ClearMonitorTable() {
  std::lock_guard lock(monitorMutex);
  monitorsSet = false;
  monitors = {};
}

bool MonitorRect(int index, QRect& rect) {
  std::lock_guard lock(monitorMutex);
  if (!monitorsSet || index < 0 || index > 9 || !monitors[index].Exists) return false;
  rect = monitors[index].Rect;
  return true;
}

// ---- display window settings ----

TVideoWindow::TVideoWindow(int windowIndex) : windowIndex_(windowIndex) {
  const bool display = windowIndex == 0;
  bools_ = {display, true, display, false, true, false, true, true};
  ints_ = {0, 0, 0, 320, 240, display ? 10 : 400, 10};
}

bool TVideoWindow::GetBool(int index) const {
  return index >= 0 && index < 8 ? bools_[index] : false;
}

void TVideoWindow::SetBool(int index, bool value) {
  if (index < 0 || index >= 8 || bools_[index] == value) return;
  bools_[index] = value;
  if (value && partner_ && (index == Embedded || index == FullScreen || index == VideoPortEnabled))
    partner_->bools_[index] = false;  // only one window at a time; the partner is not told
  if (index == Embedded || index == FullScreen) cachedState_ = -1;
  if (onChange_) onChange_(*this, index, value ? 1 : 0);
}

int TVideoWindow::GetInt(int index) const {
  return index >= 8 && index < 15 ? ints_[index - 8] : 0;
}

void TVideoWindow::SetInt(int index, int value) {
  if (index < 8 || index >= 15 || ints_[index - 8] == value) return;
  ints_[index - 8] = value;
  if (onChange_) onChange_(*this, index, value);
}

// ---- mixer: the volume arithmetic (the device side is in Mixer.cpp) ----

void SplitSpeakerVolume(int volume, int balance, int& left, int& right) {
  if (balance <= 0) {
    left = volume;
    // At balance 0 the formula gives a hair above volume (and above the channel's maximum at
    // full volume): the right channel is never louder than the left here.
    right = std::min(volume, static_cast<int>(std::lround(volume * (balance + 32768.0) / 32767.0)));
  } else {
    left = static_cast<int>(std::lround(volume * (32767.0 - balance) / 32767.0));
    right = volume;
  }
}

void JoinSpeakerVolume(int left, int right, int& volume, int& balance) {
  if (left == right) {
    volume = left;
    balance = 0;
  } else if (right < left) {
    volume = left;
    balance = static_cast<int>(std::lround(static_cast<double>(right) / left * 32767.0 - 32768.0));
  } else {
    volume = right;
    balance = static_cast<int>(std::lround(32767.0 - static_cast<double>(left) / right * 32767.0));
  }
}

// ---- modules ----

bool LoadWmvcore(EngineComponent* component) {
  (void)component;
  return true;
}

void ProgramFolders(QString& programFiles, QString& commonFiles) {
  registry::TRegistry reg(registry::HKEY_LOCAL_MACHINE, registry::KEY_READ);
  programFiles.clear();
  commonFiles.clear();
  if (!reg.OpenKeyReadOnly(QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion"))) return;
  programFiles = reg.ReadString(QStringLiteral("ProgramFilesDir")).value_or(QString());
  commonFiles = reg.ReadString(QStringLiteral("CommonFilesDir")).value_or(QString());
}

}  // namespace kestrom::engine
