#pragma once
// The capture panel a form holds as its child "Framecatcher": the preview shows inside it. It
// keeps only its engine and the initialised mark; every property, method and event is the
// engine's (fc->StartPreview(), fc->OnLog = ...), fired with the panel as Sender.

#include "capture/engine/FK.h"

#include <QFrame>
#include <memory>

namespace kestrom::engine {

class TFramecatcher final : public QFrame {
  Q_OBJECT

 public:
  explicit TFramecatcher(QWidget* parent = nullptr);
  ~TFramecatcher() override;

  TFK* operator->() { return engine_.get(); }
  const TFK* operator->() const { return engine_.get(); }
  TFK& Engine() { return *engine_; }
  bool Initialised() const { return initialised_; }

  /** @brief The form starts loading its stored values (device setters only store meanwhile). */
  void BeginLoading();
  /** @brief The form's values are in: the loading mark ends and the caption is cleared. */
  void Loaded();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void ApplyBorder();

  std::unique_ptr<TFK> engine_;
  bool initialised_ = false;
};

}  // namespace kestrom::engine
