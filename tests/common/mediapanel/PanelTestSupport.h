#pragma once
// What the media panel tests share: waiting on a condition with a bound while events run, and a
// registry of the test's own with the graph's classes registered in it.

#include "common/mediapanel/MediaPlayerControl.h"
#include "common/mediapanel/SampleGrabberCB.h"
#include "platform/dshow/graph/GraphClasses.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/registry/Registry.h"

#include <QCoreApplication>
#include <chrono>
#include <cstring>
#include <vector>

namespace kestrom::mediapanel::test {

/** @brief Runs events until condition holds; false after the bound. */
template <typename F>
bool WaitFor(F condition, int seconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

/** @brief The player registers the classes once per process; each test has a registry of its own. */
inline void UseRegistry(const QString& folder) {
  registry::SetRegistryDirectory(folder);
  dshow::graph::RegisterGraphFilters();
  dshow::RegisterSourceFilters();
  dshow::RegisterWriterFilters();
}

/** @brief The picture the player's renderer shows (through the graph's IBasicVideo); null without one. */
inline QImage ShownPicture(TDerivedMovie_& player) {
  com::ComPtr<dshow::IBasicVideo> video;
  const auto graph = player.FilterGraph();
  if (!graph || com::FAILED(graph->QueryInterface(dshow::IID_IBasicVideo, video.PutVoid()))) return {};
  dshow::LONG size = 0;
  if (com::FAILED(video->GetCurrentImage(&size, nullptr)) || size < dshow::LONG(sizeof(dshow::BITMAPINFOHEADER))) return {};
  std::vector<dshow::LONG> block(size_t(size) / 4 + 1);
  if (com::FAILED(video->GetCurrentImage(&size, block.data()))) return {};
  dshow::BITMAPINFOHEADER header;
  std::memcpy(&header, block.data(), sizeof header);
  return ImageFromDib(header, reinterpret_cast<const uint8_t*>(block.data()) + header.biSize,
                      size - int64_t(header.biSize));
}

}  // namespace kestrom::mediapanel::test
