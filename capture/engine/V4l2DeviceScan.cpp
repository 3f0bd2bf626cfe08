// Video capture devices through V4L2.
#include "capture/engine/DeviceProvider.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kestrom::engine {

namespace {

struct Node {
  int number;
  QString path;
};

// The first link of a /dev/v4l folder that points at the node, as a path through that link.
QString StableLinkTo(const QString& devFolder, const QString& nodePath, const char* kind) {
  const QDir dir(devFolder + QStringLiteral("/v4l/") + QLatin1String(kind));
  const QString target = QFileInfo(nodePath).canonicalFilePath();
  const QStringList links = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& link : links) {
    const QString linkPath = dir.filePath(link);
    if (QFileInfo(linkPath).canonicalFilePath() == target) return linkPath;
  }
  return {};
}

}  // namespace

std::vector<DeviceMoniker> ScanV4l2Devices(const QString& devFolder) {
  std::vector<Node> nodes;
  const QDir dev(devFolder);
  for (const QString& name : dev.entryList({QStringLiteral("video*")}, QDir::System | QDir::Files)) {
    bool ok = false;
    const int number = name.mid(5).toInt(&ok);
    if (ok) nodes.push_back({number, dev.filePath(name)});
  }
  std::sort(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) { return a.number < b.number; });

  std::vector<DeviceMoniker> devices;
  for (const Node& node : nodes) {
    const QByteArray path = QFile::encodeName(node.path);
    int fd = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    v4l2_capability cap{};
    const bool queried = ::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
    ::close(fd);
    if (!queried) continue;
    const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    // Metadata and output nodes of the same camera are not capture devices.
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) continue;
    QString moniker = StableLinkTo(devFolder, node.path, "by-id");
    if (moniker.isEmpty()) moniker = StableLinkTo(devFolder, node.path, "by-path");
    if (moniker.isEmpty()) moniker = node.path;
    const QString card = QString::fromUtf8(reinterpret_cast<const char*>(cap.card),
                                           qstrnlen(reinterpret_cast<const char*>(cap.card), sizeof cap.card));
    devices.push_back({moniker, card.trimmed().isEmpty() ? QFileInfo(node.path).fileName() : card.trimmed(),
                       QString::fromLatin1(CLSID_Proxy)});
  }
  return devices;
}

}  // namespace kestrom::engine
