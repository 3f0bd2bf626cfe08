#include "capture/engine/SyncManager.h"

#include "capture/engine/EngineHelpers.h"
#include "capture/engine/EngineLog.h"
#include "capture/engine/Registry2.h"
#include "capture/engine/WorkerThreads.h"
#include "platform/core/Clock.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/writers/WindowIds.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QSet>
#include <QThread>
#include <QWidget>
#include <map>
#include <memory>
#include <mutex>

namespace kestrom::engine {

namespace {

/** @brief A graph's notification, posted from a streaming thread with the window id it was given. */
class GraphNotifyPost final : public QEvent {
 public:
  GraphNotifyPost(QEvent::Type type, dshow::OAHWND window) : QEvent(type), window_(window) {}
  dshow::OAHWND Window() const { return window_; }

 private:
  dshow::OAHWND window_;
};

QEvent::Type GraphNotifyPostType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

namespace {

struct Counter {
  QString key;
  int number = 0;
};

}  // namespace

class TSyncManager final : public QObject {
 public:
  TSyncManager();
  ~TSyncManager() override;

  void HandleCommand(TSyncCommand command, ComponentId id);
  void CloseComponentsOfForm(QObject* window);
  void RepaintDisplaysOnMove();

  std::unique_ptr<TDevChangeThread> devChangeThread;
  bool busy = false;
  std::mutex componentMutex;
  std::vector<std::pair<ComponentId, EngineComponent*>> components;
  ComponentId nextId = 1;
  std::map<QString, Counter> counters;  // by case-folded key, sorted
  QMetaObject::Connection idleConnection;

 protected:
  void customEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QSet<QObject*> redelivering_;
};

namespace {

struct Globals {
  int devicesState = 0;
  std::atomic<int> syncState{0};
  std::unique_ptr<TDevices> audioDevices, videoDevices, videoCompressors, audioCompressors;
  QStringList audioFormatNames;
  std::atomic<TSyncManager*> manager{nullptr};  // read by worker threads that post
  const core::Clock* clock = nullptr;
  std::function<QString()> signature;
  bool watchThread = true;
};

Globals& G() {
  static Globals g;
  return g;
}

QEvent::Type RegisteredType(int& slot) {
  if (slot == 0) slot = QEvent::registerEventType();
  return static_cast<QEvent::Type>(slot);
}

int syncCommandType = 0;
int graphNotifyType = 0;
std::once_flag typesOnce;

void RegisterMessages() {
  std::call_once(typesOnce, [] {
    RegisteredType(graphNotifyType);
    RegisteredType(syncCommandType);
  });
}

QString CounterKey(const QString& folder, const QString& prefix, const QString& extension) {
  if (folder.isEmpty()) return prefix + extension;
  if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\'))) return folder + prefix + extension;
  return folder + QLatin1Char('/') + prefix + extension;
}

EngineComponent* FindComponent(TSyncManager& m, ComponentId id) {
  std::lock_guard lock(m.componentMutex);
  for (const auto& [cid, c] : m.components)
    if (cid == id) return c;
  return nullptr;
}

std::vector<ComponentId> ComponentIds(TSyncManager& m) {
  std::lock_guard lock(m.componentMutex);
  std::vector<ComponentId> ids;
  for (const auto& [id, c] : m.components) ids.push_back(id);
  return ids;
}

}  // namespace

QEvent::Type SyncCommandMessage() {
  RegisterMessages();
  return static_cast<QEvent::Type>(syncCommandType);
}

QEvent::Type GraphNotifyMessage() {
  RegisterMessages();
  return static_cast<QEvent::Type>(graphNotifyType);
}

// ---- unit-wide set-up ----

void InitGlobalDevices() {
  Globals& g = G();
  if (g.devicesState != 0) return;
  g.devicesState = 1;
  RegisterMessages();
  // Before this process writes any file of its own there.
  RemoveOldEngineTempFiles();
  WriteLog(QStringLiteral("creating devs"));
  FillMonitorTable();
  g.audioDevices = std::make_unique<TDevices>(dk_AudioCapture, nullptr, true, QStringList(), QString(),
                                              QString::fromLatin1(CLSID_AudioInputDeviceCategory),
                                              QStringLiteral("audio device"));
  g.videoDevices = std::make_unique<TDevices>(dk_VideoCapture, g.audioDevices.get(), true, VfwDriverNames(),
                                              QString(), QString::fromLatin1(CLSID_VideoInputDeviceCategory),
                                              QStringLiteral("video device"));
  g.videoCompressors = std::make_unique<TDevices>(
      dk_VideoCompressor, nullptr, false, QStringList(), QStringLiteral("ENCODER DMO!XLDECOMPRESS"),
      QString::fromLatin1(CLSID_VideoCompressorCategory), QStringLiteral("video compressor"));
  g.audioCompressors = std::make_unique<TDevices>(dk_AudioCompressor, nullptr, false, QStringList(),
                                                  QStringLiteral("ENCODER DMO"),
                                                  QString::fromLatin1(CLSID_AudioCompressorCategory),
                                                  QStringLiteral("audio compressor"));
  g.audioFormatNames = AudioFormatNames();
  g.devicesState = 2;
}

int GlobalDevicesState() { return G().devicesState; }
TDevices* AudioDeviceList() { return G().audioDevices.get(); }
TDevices* VideoDeviceList() { return G().videoDevices.get(); }
TDevices* VideoCompressorList() { return G().videoCompressors.get(); }
TDevices* AudioCompressorList() { return G().audioCompressors.get(); }

namespace {
QString TextOf(TDevices* (*list)()) {
  InitGlobalDevices();
  TDevices* l = list();
  return l ? l->NamesText() : QString();
}
}  // namespace

QString AudioDevicesText() { return TextOf(&AudioDeviceList); }
QString VideoDevicesText() { return TextOf(&VideoDeviceList); }
QString AudioCompressorsText() { return TextOf(&AudioCompressorList); }
QString VideoCompressorsText() { return TextOf(&VideoCompressorList); }
QStringList GlobalAudioFormatNames() { return G().audioFormatNames; }

void SetSyncClock(const core::Clock* clock) { G().clock = clock; }
void SetDeviceSignature(std::function<QString()> signature) { G().signature = std::move(signature); }
void SetDeviceWatchThreadEnabled(bool enabled) { G().watchThread = enabled; }

void PollDeviceWatch() {
  if (TSyncManager* m = G().manager.load(); m && m->devChangeThread) m->devChangeThread->Poll();
}

// ---- the manager ----

TSyncManager::TSyncManager() {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    moveToThread(app->thread());
    app->installEventFilter(this);
  }
}

TSyncManager::~TSyncManager() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

void StartSyncManager() {
  Globals& g = G();
  int expected = 0;
  if (!g.syncState.compare_exchange_strong(expected, 1)) return;
  RegisterMessages();
  CheckStoreVersion();
  auto* m = new TSyncManager;
  g.manager = m;
  const core::Clock& clock = g.clock ? *g.clock : core::SystemClock();
  auto signature = g.signature ? g.signature : std::function<QString()>(&DeviceNodesSignature);
  m->devChangeThread = std::make_unique<TDevChangeThread>(clock, signature, [m] {
    QCoreApplication::postEvent(m, new SyncCommandEvent(sy_RebuildDevices, 0));
  });
  if (QCoreApplication* app = QCoreApplication::instance()) {
    // The application's first idle moment: its event loop is about to wait for more events.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(app->thread()))
      m->idleConnection = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, m,
                                           [] { SyncIdleHandler(); });
  }
  if (g.watchThread) m->devChangeThread->Resume();
  // Graphs tell their component that events wait through the manager, never by calling it.
  const QEvent::Type postType = GraphNotifyPostType();
  dshow::SetGraphNotifyPoster([m, postType](dshow::OAHWND window, auto, auto, auto) {
    QCoreApplication::postEvent(m, new GraphNotifyPost(postType, window));
  });
  g.syncState = 2;
}

int SyncState() { return G().syncState.load(); }

void SyncIdleHandler() {
  Globals& g = G();
  TSyncManager* m = g.manager.load();
  if (!m) return;
  QObject::disconnect(m->idleConnection);
  int expected = 2;
  if (!g.syncState.compare_exchange_strong(expected, 3)) return;
  if (m->busy) return;
  m->busy = true;
  for (ComponentId id : ComponentIds(*m)) {
    EngineComponent* c = FindComponent(*m, id);
    if (!c || !c->Initialised()) continue;
    c->ApplyPendingStartupSettings();
    if ((c = FindComponent(*m, id)) && c->AutoStartPreview() && c->CurrentState() == cs_None) c->StartPreview();
  }
  m->busy = false;
}

namespace {
void StopManager(Globals& g);
}  // namespace

void StopSyncManager() {
  Globals& g = G();
  if (g.syncState.load() >= 2) {
    for (EngineComponent* c : Components()) c->syncId_.store(0);
    StopManager(g);
  }
  // The lists go even when only the list texts were asked for and no component ever ran.
  if (g.devicesState == 2) {
    g.devicesState = 1;
    g.videoDevices.reset();
    g.audioDevices.reset();
    g.audioCompressors.reset();
    g.videoCompressors.reset();
    ClearMonitorTable();
    g.devicesState = 0;
  }
}

namespace {

void StopManager(Globals& g) {
  g.syncState = 1;
  dshow::SetGraphNotifyPoster(nullptr);
  TSyncManager* m = g.manager.load();
  WriteLog(QStringLiteral("freeing global resources"));
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(m);
  QObject::disconnect(m->idleConnection);
  TWaitingThread::Stop(m->devChangeThread);
  {
    std::lock_guard lock(m->componentMutex);
    m->components.clear();
  }
  m->counters.clear();
  WriteLog(QStringLiteral("="), QString::fromLatin1(EndBannerText));
  g.manager = nullptr;
  delete m;  // with it go the commands still queued
  g.syncState = 0;
}

}  // namespace

// ---- components and commands ----

void RegisterComponent(EngineComponent* component) {
  TSyncManager* m = G().manager.load();
  if (!m || !component) return;
  std::lock_guard lock(m->componentMutex);
  for (const auto& entry : m->components)
    if (entry.second == component) return;
  const ComponentId id = m->nextId++;
  component->syncId_.store(id);
  m->components.emplace_back(id, component);
}

void UnregisterComponent(EngineComponent* component) {
  if (!component) return;
  component->syncId_.store(0);
  TSyncManager* m = G().manager.load();
  if (!m) return;
  std::lock_guard lock(m->componentMutex);
  std::erase_if(m->components, [&](const auto& e) { return e.second == component; });
}

std::vector<EngineComponent*> Components() {
  std::vector<EngineComponent*> all;
  TSyncManager* m = G().manager.load();
  if (!m) return all;
  std::lock_guard lock(m->componentMutex);
  for (const auto& e : m->components) all.push_back(e.second);
  return all;
}

void PostSyncCommand(TSyncCommand command, EngineComponent* component) {
  TSyncManager* m = G().manager.load();
  if (!m) return;
  QCoreApplication::postEvent(m, new SyncCommandEvent(command, component ? component->SyncId() : 0));
}

void PumpMessagesOnce() {
  if (!QCoreApplication::instance()) return;
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

void NotifyDeviceChange() {
  TSyncManager* m = G().manager.load();
  if (m && G().syncState.load() > 1 && m->devChangeThread) m->devChangeThread->Arm();
}

void TSyncManager::customEvent(QEvent* event) {
  if (event->type() == GraphNotifyPostType()) {
    // Resolved here, on the GUI thread: the id of a component freed meanwhile finds nothing.
    if (QWidget* target = dshow::WidgetOfWindowId(static_cast<GraphNotifyPost*>(event)->Window())) {
      QEvent notify(GraphNotifyMessage());
      QCoreApplication::sendEvent(target, &notify);
    }
    return;
  }
  if (event->type() != SyncCommandMessage()) return;
  const auto* e = static_cast<SyncCommandEvent*>(event);
  HandleCommand(e->Command(), e->Component());
}

void TSyncManager::HandleCommand(TSyncCommand command, ComponentId id) {
  if (command == sy_RebuildDevices) {
    RebuildDevicesAndNotify();
    return;
  }
  // Commands carry the component's id: one posted for a component that is gone meets no one.
  EngineComponent* c = id ? FindComponent(*this, id) : nullptr;
  if (!c || c->Closing()) return;
  switch (command) {
    case sy_StartChannelScan:
    case sy_ChannelScanStep:
    case sy_Reserved5:
    case sy_Reserved6:
      return;
    case sy_WmvcoreMissing:
      CheckAndLog(c, true, ll_Error, QStringLiteral("wmvcore.dll not found. Install the Media Player 9."),
                  TLogType::e_library_not_found);
      return;
    case sy_DeviceLost:
    case sy_DispatchEvents:
    case sy_Stop:
    case sy_PlayerStep:
    case sy_PlayerThreadStep:
    case sy_StartPreview:
    case sy_StartRecording:
    case sy_OpenPlayer:
      c->ExecuteSyncCommand(command);
      return;
    default:
      return;
  }
}

void RebuildDevicesAndNotify() {
  Globals& g = G();
  TSyncManager* m = g.manager.load();
  if (!m || g.syncState.load() <= 2 || g.devicesState != 2) return;
  TDevices* lists[2] = {g.videoDevices.get(), g.audioDevices.get()};
  // Presence before this rebuild, taken here: the video list rebuilds the audio list itself when
  // it holds audio-named cameras, and the marks alone would then lose the audio list's changes.
  std::vector<std::vector<std::pair<QString, bool>>> before(2);
  for (int l = 0; l < 2; ++l)
    for (const TCapDeviceInfo& e : lists[l]->Entries()) before[l].emplace_back(e.Key, e.PresentNow);
  lists[0]->Rebuild();
  lists[1]->Rebuild();
  for (int l = 0; l < 2; ++l) {
    const bool isVideo = l == 0;
    const std::vector<TCapDeviceInfo> now = lists[l]->Entries();
    for (size_t i = 0; i < now.size(); ++i) {
      bool was = false;
      for (const auto& [key, present] : before[l])
        if (key == now[i].Key) was = present;
      if (was == now[i].PresentNow) continue;
      const bool arrival = now[i].PresentNow;
      for (ComponentId id : ComponentIds(*m)) {
        EngineComponent* c = FindComponent(*m, id);
        if (!c || !c->Initialised()) continue;
        if (arrival) c->HandleDeviceArrival(isVideo, static_cast<int>(i));
        if ((c = FindComponent(*m, id)))
          c->FireDeviceArrivalOrRemoval(arrival, isVideo, now[i].DisplayName, static_cast<int>(i));
      }
    }
  }
}

// ---- the close and move hook ----

bool TSyncManager::eventFilter(QObject* watched, QEvent* event) {
  if (G().syncState.load() != 3 || !watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  if (!widget->isWindow()) return false;
  if (event->type() == QEvent::Close && !redelivering_.contains(watched)) {
    // Deliver the close now, so that the form's answer is known: only an accepted close stops
    // the components placed on the form.
    redelivering_.insert(watched);
    QPointer<QObject> alive(watched);
    QCoreApplication::sendEvent(watched, event);
    redelivering_.remove(watched);
    if (event->isAccepted()) CloseComponentsOfForm(watched);
    (void)alive;
    return true;
  }
  if (event->type() == QEvent::Move) RepaintDisplaysOnMove();
  return false;
}

void TSyncManager::CloseComponentsOfForm(QObject* window) {
  WriteLog(QStringLiteral("*** CLOSE ****"));
  for (ComponentId id : ComponentIds(*this)) {
    EngineComponent* c = FindComponent(*this, id);
    if (!c || !c->Initialised() || c->ParentForm() != window) continue;
    c->SetClosing();
    c->StopCurrentMode();
  }
}

void TSyncManager::RepaintDisplaysOnMove() {
  for (ComponentId id : ComponentIds(*this)) {
    EngineComponent* c = FindComponent(*this, id);
    if (c && c->Initialised() && !c->Closing()) c->RepaintDisplays();
  }
}

// ---- sequentially numbered files ----

namespace {

void ScanSequentialFolder(TSyncManager& m, const QString& folder, const QString& prefix, const QString& extension) {
  if (G().syncState.load() <= 1) return;
  const QString base = CounterKey(folder, prefix, QString());
  bool added = false;
  for (const QString& ext : {QStringLiteral("bmp"), QStringLiteral("jpg"), extension}) {
    const QString key = base + ext;
    if (m.counters.emplace(key.toCaseFolded(), Counter{key, 0}).second) added = true;
  }
  if (!added) return;
  const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
  const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& name : names) {
    if (!name.startsWith(prefix, Qt::CaseInsensitive)) continue;
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot < 1) continue;
    const auto it = m.counters.find((base + name.mid(dot + 1)).toCaseFolded());
    if (it == m.counters.end()) continue;
    bool ok = false;
    const int number = name.mid(std::max<qsizetype>(0, dot - 6), std::min<qsizetype>(dot, 6)).toInt(&ok);
    if (ok && number > it->second.number) it->second.number = number;
  }
}

}  // namespace

int NextSequentialNumber(const QString& folder, const QString& prefix, const QString& extension) {
  TSyncManager* m = G().manager.load();
  const QString key = CounterKey(folder, prefix, extension);
  if (m) {
    auto it = m->counters.find(key.toCaseFolded());
    if (it == m->counters.end()) {
      ScanSequentialFolder(*m, folder, prefix, extension);
      it = m->counters.find(key.toCaseFolded());
    }
    if (it != m->counters.end()) return ++it->second.number;
  }
  WriteLog(QStringLiteral("ERROR: sequential file count not found: ") + key);
  return 1;
}

int SequentialIndexOf(const QString& folder, const QString& prefix, const QString& extension) {
  TSyncManager* m = G().manager.load();
  if (!m) return -1;
  const auto it = m->counters.find(CounterKey(folder, prefix, extension).toCaseFolded());
  return it == m->counters.end() ? -1 : static_cast<int>(std::distance(m->counters.begin(), it));
}

int SequentialCount(int index) {
  TSyncManager* m = G().manager.load();
  if (!m || index < 0 || index >= static_cast<int>(m->counters.size())) return -1;
  return std::next(m->counters.begin(), index)->second.number;
}

void ReleaseSequentialNumber(int index) {
  TSyncManager* m = G().manager.load();
  if (!m || index < 0 || index >= static_cast<int>(m->counters.size())) return;
  int& number = std::next(m->counters.begin(), index)->second.number;
  if (number > 0) --number;
}

}  // namespace kestrom::engine
