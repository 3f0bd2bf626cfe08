#include "analysis/drawing/DrawingControls.h"

#include "analysis/annotation/DrawingLimits.h"

#include "platform/ui/Dialogs.h"

#include <QAction>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QWidget>
#include <span>

namespace kestrom::drawing {

namespace {

constexpr Tool kDrawingTools[] = {Tool::Freehand, Tool::Line, Tool::VerticalLine, Tool::HorizontalLine,
                                  Tool::Rectangle, Tool::Ellipse, Tool::Text, Tool::FreehandGrid,
                                  Tool::ShapesPointer};
constexpr Tool kAngleTools[] = {Tool::GeneralAngle, Tool::VerticalAngle, Tool::HorizontalAngle,
                                Tool::AnglesPointer};

bool IsAngleTool(Tool tool) {
  for (Tool t : kAngleTools)
    if (t == tool) return true;
  return false;
}

// A spin edit doubles as a colour swatch: its text shows the pen colour, its ground the fill.
// A style sheet, because the window may have styled the spin edits already.
void SetSwatch(QSpinBox* spin, core::TColor text, std::optional<core::TColor> base) {
  if (!spin) return;
  QString sheet = QStringLiteral("color: %1;").arg(core::ToQColor(text).name());
  if (base) sheet += QStringLiteral(" background-color: %1;").arg(core::ToQColor(*base).name());
  spin->setStyleSheet(sheet);
}

}  // namespace

DrawingControls::DrawingControls(QWidget* window, ui::Canvas& canvas, annotation::DrawingStore& store,
                                 DrawingPort& port)
    : QObject(window),
      window_(window),
      canvas_(canvas),
      store_(store),
      port_(port),
      tools_(canvas, store, port, *this),
      markers_(store) {
  // Pointer highlights and the position in the status bar need moves with no button pressed.
  window_->setMouseTracking(true);
  window_->installEventFilter(this);
}

DrawingControls::~DrawingControls() = default;

QPoint DrawingControls::Place(QWidget* page, int width) {
  // Controls run left to right after whatever already stands on the page, wrapping at the
  // palette's edge (tab pages are as wide as the window).
  auto it = cursors_.find(page);
  if (it == cursors_.end()) {
    int x = 4;
    for (QWidget* child : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
      if (!child->isWindow()) x = std::max(x, child->geometry().right() + 5);
    it = cursors_.emplace(page, QPoint(x, 2)).first;
  }
  const int wrap = page->isWindow() ? page->width() : 1250;
  if (it->second.x() + width > wrap && it->second.x() > 4) it->second = QPoint(4, it->second.y() + 28);
  const QPoint at = it->second;
  it->second.rx() += width + 2;
  return at;
}

QToolButton* DrawingControls::Button(QWidget* page, const QString& name, const QString& caption,
                                     const QString& hint, bool checkable, int width) {
  auto* b = page->findChild<QToolButton*>(name);
  if (!b) {
    b = new QToolButton(page);
    b->setObjectName(name);
    b->setText(caption);
  }
  b->setGeometry(QRect(Place(page, width), QSize(width, 26)));
  if (!hint.isEmpty()) b->setToolTip(hint);
  b->setCheckable(checkable);
  if (sets_.empty()) windowButtons_[name] = b;
  return b;
}

QSpinBox* DrawingControls::SpinEdit(QWidget* page, const QString& name) {
  auto* s = page->findChild<QSpinBox*>(name);
  if (!s) {
    s = new QSpinBox(page);
    s->setObjectName(name);
    s->setRange(annotation::kMinPenWidth, annotation::kMaxPenWidth);
    s->setValue(2);
  }
  s->setGeometry(QRect(Place(page, 48), QSize(48, 26)));
  return s;
}

DrawingControlSet& DrawingControls::AddControlSet(QWidget* markersPage, QWidget* shapesPage, QWidget* anglesPage) {
  DrawingControlSet set;
  if (markersPage) {
    for (int n = 1; n <= annotation::DrawingStore::kMarkerCount; ++n)
      set.Std[n - 1] = Button(markersPage, QStringLiteral("Std%1").arg(n), QString::number(n),
                              QStringLiteral("Marker %1 : Press Control to Reset this Marker").arg(n), false, 30);
    set.Time = Button(markersPage, "Time", "0.00", "Stopwatch", true, 48);
    set.SaveMarkerSpeedButton = Button(markersPage, "SaveMarkerSpeedButton", "Save", "Save All Markers", false, 40);
    set.LoadMarkerSpeedButton =
        Button(markersPage, "LoadMarkerSpeedButton", "Load", "Load Previously Saved Markers", false, 40);
    set.ResetmarkerSpeedButton = Button(markersPage, "ResetmarkerSpeedButton", "Reset", "Reset All Markers", false, 40);
  }
  if (shapesPage) {
    set.FreehandButton = Button(shapesPage, "FreehandButton", "~", "Freehand Drawing", true);
    set.LineButton = Button(shapesPage, "LineButton", "/", "Line Drawing", true);
    set.DrawVerticalLineSpeedButton = Button(shapesPage, "DrawVerticalLineSpeedButton", "|", "Draw Vertical Line", true);
    set.HorizontalLineSpeedButton =
        Button(shapesPage, "HorizontalLineSpeedButton", "-", "Draw Horizontal Line", true);
    set.RectangleButton = Button(shapesPage, "RectangleButton", "[]", "Rectangle Drawing", true);
    set.EllipseButton = Button(shapesPage, "EllipseButton", "O", "Circle Drawing", true);
    set.TextButton = Button(shapesPage, "TextButton", "T", "", true);
    set.GridButton = Button(shapesPage, "GridButton", "#", "Freehand Grid", true);
    set.ShapesSpinEdit = SpinEdit(shapesPage, "ShapesSpinEdit");
    set.ShapesColourButton = Button(shapesPage, "ShapesColourButton", "Fg", "Set Foreground Drawing Colour", false);
    set.ShapesBackgroungColorButton =
        Button(shapesPage, "ShapesBackgroungColorButton", "Bg", "Set Background Drawing Colour", false);
    set.ClearBrush = Button(shapesPage, "ClearBrush", "Clr", "Clear Fill", true);
    set.ShapesPointer = Button(shapesPage, "ShapesPointer", "Ptr", "Shape and Text Pointer", true);
    set.SaveShapesSpeedButton = Button(shapesPage, "SaveShapesSpeedButton", "Save", "Save All Drawings", false, 40);
    set.LoadShapesSpeedButton = Button(shapesPage, "LoadShapesSpeedButton", "Load", "Load Drawings", false, 40);
    set.UndoSpeedButton =
        Button(shapesPage, "UndoSpeedButton", "Undo", "Undo Last Freehand Drawing, Shape or Grid", false, 40);
    set.ClearAllSpeedButton = Button(shapesPage, "ClearAllSpeedButton", "Clear", "Clear All Drawings", false, 40);
    set.GridPopupMenu = shapesPage->window()->findChild<QMenu*>("GridPopupMenu");
    if (!set.GridPopupMenu || !sets_.empty()) {
      set.GridPopupMenu = new QMenu(shapesPage);
      set.GridPopupMenu->setObjectName("GridPopupMenu");
    }
    for (QAction* a : set.GridPopupMenu->actions()) {
      if (a->objectName() == "CalibratedGrid1") set.CalibratedGrid1 = a;
      if (a->objectName() == "FreeHandGrid1") set.FreeHandGrid1 = a;
    }
    if (!set.CalibratedGrid1) {
      set.CalibratedGrid1 = set.GridPopupMenu->addAction("Calibrated Grid");
      set.CalibratedGrid1->setObjectName("CalibratedGrid1");
    }
    if (!set.FreeHandGrid1) {
      set.FreeHandGrid1 = set.GridPopupMenu->addAction("FreeHand Grid");
      set.FreeHandGrid1->setObjectName("FreeHandGrid1");
    }
    set.CalibratedGrid1->setCheckable(true);
    set.FreeHandGrid1->setCheckable(true);
    if (sets_.empty()) {
      Edit1 = new QLineEdit(shapesPage);
      Edit1->setObjectName("Edit1");
      Edit1->setText(tools_.Settings.text);
      Edit1->move(Place(shapesPage, 124));
      Edit1->hide();
      FontSpeedButton = Button(shapesPage, "FontSpeedButton", "F", "Text Font", false, 24);
      FontSpeedButton->hide();
      SizeEdit1();
      set.PenWidth = SpinEdit(shapesPage, "PenWidth");
      set.PenWidth->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
      set.PenWidth->setToolTip("Pen Width");
      set.PenSize = shapesPage->findChild<QLabel*>("PenSize");
      if (!set.PenSize) {
        set.PenSize = new QLabel(shapesPage);
        set.PenSize->setObjectName("PenSize");
      }
      set.PenSize->setGeometry(QRect(Place(shapesPage, 24), QSize(24, 26)));
      set.PenSize->setAlignment(Qt::AlignCenter);
      set.PenColor = Button(shapesPage, "PenColor", "Pen", "Pen Colour", false, 32);
    }
  }
  if (anglesPage) {
    set.GeneralAngleSpeedButton = Button(anglesPage, "GeneralAngleSpeedButton", "<", "Draw Angle", true);
    set.VerticalAngleSpeedButton =
        Button(anglesPage, "VerticalAngleSpeedButton", "<|", "Draw Angle to the Vertical", true);
    set.HorizontalAngleSpeedButton =
        Button(anglesPage, "HorizontalAngleSpeedButton", "<-", "Draw Angle to the Horizontal", true);
    set.AnglesPointer = Button(anglesPage, "AnglesPointer", "Ptr", "Angle Pointer", true);
    set.AnglesSpinEdit = SpinEdit(anglesPage, "AnglesSpinEdit");
    set.AnglesSpeedButton = Button(anglesPage, "AnglesSpeedButton", "Col", "Set Angle Drawing Colour", false);
    set.UndoAnglesSpeedButton = Button(anglesPage, "UndoAnglesSpeedButton", "Undo", "Undo Last Angle", false, 40);
    set.SaveAnglesSpeedButton = Button(anglesPage, "SaveAnglesSpeedButton", "Save", "Save All Angles", false, 40);
    set.LoadAnglesSpeedButton =
        Button(anglesPage, "LoadAnglesSpeedButton", "Load", "Load Previously Saved Angles", false, 40);
    set.ResetAnglesSpeedButton = Button(anglesPage, "ResetAnglesSpeedButton", "Clear", "Clear All Angles", false, 40);
    set.ShowResultsSpeedButton =
        Button(anglesPage, "ShowResultsSpeedButton", "Res", "Display Results", true, 40);
  }
  sets_.push_back(set);
  WireSet(static_cast<int>(sets_.size()) - 1);
  ShowSwatches();
  ShowMarkerCaptions();
  return sets_.back();
}

void DrawingControls::WireSet(int index) {
  DrawingControlSet& s = sets_[static_cast<std::size_t>(index)];
  const bool palette = index > 0;
  // The window's controls act here; a palette's act on the window of its owner, or on none.
  auto target = [this, palette](QWidget* control) -> DrawingControls* {
    if (!palette || !paletteTarget_) return this;
    return paletteTarget_(control->window());
  };
  auto on = [this, target](QAbstractButton* b, auto handler) {
    if (!b) return;
    connect(b, &QAbstractButton::clicked, this, [this, target, b, handler] {
      DrawingControls* w = target(b);
      if (!w) {
        if (b->isCheckable()) b->setChecked(!b->isChecked());  // a click that did nothing
        return;
      }
      handler(*w);
      // A palette button shows what its window's button shows now, even another window's.
      if (b->isCheckable()) {
        const auto own = w->windowButtons_.find(b->objectName());
        if (own != w->windowButtons_.end() && own->second != b) b->setChecked(own->second->isChecked());
      }
    });
  };
  for (int n = 1; n <= annotation::DrawingStore::kMarkerCount; ++n) {
    if (!s.Std[n - 1]) continue;
    on(s.Std[n - 1], [n](DrawingControls& w) { w.StdClick(n); });
    s.Std[n - 1]->installEventFilter(this);
  }
  on(s.Time, [](DrawingControls& w) { w.TimeClick(); });
  on(s.SaveMarkerSpeedButton, [](DrawingControls& w) { w.SaveMarkerSpeedButtonClick(); });
  on(s.LoadMarkerSpeedButton, [](DrawingControls& w) { w.LoadMarkerSpeedButtonClick(); });
  on(s.ResetmarkerSpeedButton, [](DrawingControls& w) { w.ResetmarkerSpeedButtonClick(); });
  for (const auto& group : {std::span<const Tool>(kDrawingTools), std::span<const Tool>(kAngleTools)})
    for (Tool tool : group)
      on(ToolButtonOf(s, tool), [this, tool, index](DrawingControls& w) {
        if (index == 0)
          w.ToolClick(tool);
        else
          w.PaletteToolClick(tool, sets_[static_cast<std::size_t>(index)]);
      });
  auto onItem = [this, target](QAction* item, QWidget* form, auto handler) {
    if (!item) return;
    connect(item, &QAction::triggered, this, [target, form, handler] {
      if (DrawingControls* w = target(form)) handler(*w);
    });
  };
  QWidget* shapesForm = s.ShapesPointer ? s.ShapesPointer->window() : nullptr;
  onItem(s.FreeHandGrid1, shapesForm, [](DrawingControls& w) { w.FreeHandGrid1Click(); });
  onItem(s.CalibratedGrid1, shapesForm, [](DrawingControls& w) {
    if (w.CalibratedGridClick) w.CalibratedGridClick();
  });
  on(s.ShapesColourButton, [this, index](DrawingControls& w) {
    w.ShapesColourButtonClick();
    w.ShowSwatches(&sets_[static_cast<std::size_t>(index)]);
  });
  on(s.ShapesBackgroungColorButton, [this, index](DrawingControls& w) {
    w.ShapesBackgroungColorButtonClick();
    w.ShowSwatches(&sets_[static_cast<std::size_t>(index)]);
  });
  on(s.ClearBrush, [b = s.ClearBrush](DrawingControls& w) { w.ClearBrushClick(b->isChecked()); });
  on(s.SaveShapesSpeedButton, [palette](DrawingControls& w) { w.SaveShapesSpeedButtonClick(palette); });
  on(s.LoadShapesSpeedButton, [](DrawingControls& w) { w.LoadShapesSpeedButtonClick(); });
  on(s.UndoSpeedButton, [](DrawingControls& w) { w.UndoSpeedButtonClick(); });
  on(s.ClearAllSpeedButton, [palette](DrawingControls& w) { w.ClearAllSpeedButtonClick(palette); });
  on(s.AnglesSpeedButton, [this, index](DrawingControls& w) {
    w.AnglesSpeedButtonClick();
    w.ShowSwatches(&sets_[static_cast<std::size_t>(index)]);
  });
  on(s.UndoAnglesSpeedButton, [](DrawingControls& w) { w.UndoAnglesSpeedButtonClick(); });
  on(s.SaveAnglesSpeedButton, [](DrawingControls& w) { w.SaveAnglesSpeedButtonClick(); });
  on(s.LoadAnglesSpeedButton, [](DrawingControls& w) { w.LoadAnglesSpeedButtonClick(); });
  on(s.ResetAnglesSpeedButton, [](DrawingControls& w) { w.ResetAnglesSpeedButtonClick(); });
  on(s.ShowResultsSpeedButton,
     [b = s.ShowResultsSpeedButton](DrawingControls& w) { w.ShowResultsSpeedButtonClick(b->isChecked()); });
  if (s.ShapesSpinEdit) {
    QSignalBlocker block(s.ShapesSpinEdit);
    s.ShapesSpinEdit->setValue(tools_.Settings.penWidth);
    connect(s.ShapesSpinEdit, &QSpinBox::valueChanged, this, [target, spin = s.ShapesSpinEdit](int v) {
      if (DrawingControls* w = target(spin)) w->ShapesSpinEditChange(v);
    });
  }
  if (s.PenWidth) {
    QSignalBlocker block(s.PenWidth);
    s.PenWidth->setValue(tools_.Settings.penWidth);
    connect(s.PenWidth, &QSpinBox::valueChanged, this, [this](int v) { PenSizeChange(v); });
  }
  if (s.PenColor) connect(s.PenColor, &QToolButton::clicked, this, [this] { PenColorClick(); });
  if (s.AnglesSpinEdit) {
    QSignalBlocker block(s.AnglesSpinEdit);
    s.AnglesSpinEdit->setValue(tools_.Settings.angleWidth);
    connect(s.AnglesSpinEdit, &QSpinBox::valueChanged, this, [target, spin = s.AnglesSpinEdit](int v) {
      if (DrawingControls* w = target(spin)) w->AnglesSpinEditChange(v);
    });
  }
  if (s.ClearBrush) s.ClearBrush->setChecked(tools_.Settings.clearBrush);
  if (index == 0 && Edit1) {
    connect(Edit1, &QLineEdit::textChanged, this, [this](const QString& text) {
      tools_.Settings.text = text;
      SizeEdit1();
    });
    connect(FontSpeedButton, &QToolButton::clicked, this, [this] { FontSpeedButtonClick(); });
  }
}

QToolButton* DrawingControls::ToolButtonOf(const DrawingControlSet& s, Tool tool) const {
  switch (tool) {
    case Tool::Freehand: return s.FreehandButton;
    case Tool::Line: return s.LineButton;
    case Tool::Rectangle: return s.RectangleButton;
    case Tool::Ellipse: return s.EllipseButton;
    case Tool::VerticalLine: return s.DrawVerticalLineSpeedButton;
    case Tool::HorizontalLine: return s.HorizontalLineSpeedButton;
    case Tool::Text: return s.TextButton;
    case Tool::FreehandGrid: return s.GridButton;
    case Tool::GeneralAngle: return s.GeneralAngleSpeedButton;
    case Tool::VerticalAngle: return s.VerticalAngleSpeedButton;
    case Tool::HorizontalAngle: return s.HorizontalAngleSpeedButton;
    case Tool::ShapesPointer: return s.ShapesPointer;
    case Tool::AnglesPointer: return s.AnglesPointer;
  }
  return nullptr;
}

void DrawingControls::SetAll(Tool tool, bool down) {
  for (const DrawingControlSet& s : sets_)
    if (QToolButton* b = ToolButtonOf(s, tool)) b->setChecked(down);
}

void DrawingControls::Repaint() { window_->update(); }

// ---- markers and stopwatch ----

void DrawingControls::ShowMarkerCaptions() {
  const double duration = port_.Video().frameDuration;
  for (const DrawingControlSet& s : sets_)
    for (int n = 1; n <= annotation::DrawingStore::kMarkerCount; ++n)
      if (s.Std[n - 1]) s.Std[n - 1]->setText(markers_.Caption(n, duration));
  port_.CaptionsShown();
}

void DrawingControls::StdClick(int n, int) {
  const MarkerVideo video = port_.Video();
  const MarkerClick click = markers_.Click(n, video);
  if (click.action == MarkerClick::Action::Seek) port_.SeekToMarker(click.position, click.frame);
  if (click.action == MarkerClick::Action::Outside)
    port_.ShowError(QStringLiteral("Marker %1 (%2 ms, from \"%3\") lies outside this video, which is %4 ms long.")
                        .arg(n)
                        .arg(click.position)
                        .arg(port_.FileNames().MarkersFile)
                        .arg(video.lengthMs));
  ShowMarkerCaptions();
  Repaint();
}

void DrawingControls::StdKeyDown(int n, int key) {
  if (markers_.KeyDown(n, key)) ShowMarkerCaptions();
}

void DrawingControls::TimeClick() {
  const auto down = markers_.TimeClick(port_.Video());
  for (const DrawingControlSet& s : sets_) {
    if (!s.Time) continue;
    if (down) {
      s.Time->setText(QStringLiteral("0.00"));
      s.Time->setChecked(*down);
    } else {
      s.Time->setChecked(markers_.StopwatchRunning());
    }
  }
  port_.CaptionsShown();
}

bool DrawingControls::MayReplace(const QStringList& paths) {
  for (const QString& path : paths) {
    if (!store_.LoadedPartly(path)) continue;
    if (!port_.Confirm(annotation::DrawingStore::ReplacePartialQuestion(path))) return false;
    store_.ForgetPartialLoad(path);
  }
  return true;
}

void DrawingControls::SaveMarkerSpeedButtonClick() {
  if (!port_.VideoOpen()) return;
  if (!MayReplace({port_.FileNames().MarkersFile})) return;
  const annotation::SaveResult r = store_.SaveMarkers(port_.FileNames().MarkersFile);
  if (!r.ok()) port_.ShowError(r.error);
}

void DrawingControls::LoadMarkerSpeedButtonClick() {
  if (!port_.VideoOpen()) return;
  const MarkerVideo video = port_.Video();
  const auto r = store_.LoadMarkers(port_.FileNames().MarkersFile, video.frameDuration, video.lengthMs);
  if (r.report) port_.ShowError(r.error);
  ShowMarkerCaptions();
}

void DrawingControls::ResetmarkerSpeedButtonClick() {
  store_.ResetMarkers();
  ShowMarkerCaptions();
}

void DrawingControls::RedrawOverlays(const TraceButtons& traces) {
  if (!port_.VideoOpen()) return;
  DrawingRenderer(canvas_, store_, port_).RedrawOverlays(traces);
  const auto caption = markers_.StopwatchCaption(port_.Video().positionMs);
  if (caption) {
    for (const DrawingControlSet& s : sets_)
      if (s.Time) s.Time->setText(*caption);
    port_.CaptionsShown();
  }
}

// ---- tools ----

void DrawingControls::ToolClick(Tool tool) {
  QToolButton* clicked = ToolButtonOf(sets_.front(), tool);
  if (tool == Tool::Line && RulerButton) RulerButton->setChecked(false);
  if (!port_.VideoOpen()) {
    if (clicked) clicked->setChecked(false);
    return;
  }
  if (IsAngleTool(tool)) {
    // The angle tools are a group in which the chosen one stays down.
    for (Tool t : kAngleTools) SetAll(t, t == tool);
    tools_.ToolButton(tool, true);
    return;
  }
  if (tool == Tool::FreehandGrid) {
    StartFreehandGrid(sets_.front());
    return;
  }
  const bool down = clicked && clicked->isChecked();
  if (down) {
    for (Tool t : kDrawingTools) SetAll(t, t == tool);
  } else {
    SetAll(tool, false);
  }
  tools_.ToolButton(tool, down);
  Repaint();
}

void DrawingControls::PaletteToolClick(Tool tool, const DrawingControlSet& palette) {
  QToolButton* own = ToolButtonOf(sets_.front(), tool);
  const QToolButton* pressed = ToolButtonOf(palette, tool);
  const bool paletteDown = pressed && pressed->isChecked();
  if (tool == Tool::FreehandGrid) {
    // The palette's own grid menu opens, beside the palette.
    if (port_.VideoOpen()) StartFreehandGrid(palette);
    else if (own) own->setChecked(false);
    return;
  }
  // Palette buttons only switch a tool on; the text button carries its state over.
  if (own) {
    if (tool == Tool::Text)
      own->setChecked(paletteDown);
    else if (!IsAngleTool(tool) || paletteDown)
      own->setChecked(true);
  }
  ToolClick(tool);
}

void DrawingControls::StartFreehandGrid(const DrawingControlSet& menuSet) {
  port_.StopPlayback();
  for (Tool t : kDrawingTools) SetAll(t, t == Tool::FreehandGrid);
  auto check = [](const DrawingControlSet& s) {
    if (s.CalibratedGrid1) s.CalibratedGrid1->setChecked(false);
    if (s.FreeHandGrid1) s.FreeHandGrid1->setChecked(true);
  };
  for (const DrawingControlSet& s : sets_) check(s);
  check(menuSet);
  if (menuSet.GridPopupMenu && menuSet.GridButton) {
    const QWidget* form = menuSet.GridButton->window();
    menuSet.GridPopupMenu->popup(form->frameGeometry().topLeft() + QPoint(115, 80));
  }
}

void DrawingControls::FreeHandGrid1Click() { tools_.ToolButton(Tool::FreehandGrid, true); }

void DrawingControls::ReleaseDrawingButtons() {
  for (Tool t : kDrawingTools)
    if (t != Tool::ShapesPointer) SetAll(t, false);
  // The line tool's handler, run with its button up, releases the ruler too.
  if (RulerButton) RulerButton->setChecked(false);
}

void DrawingControls::ReleaseTextButtons() { SetAll(Tool::Text, false); }

void DrawingControls::ShowTextBox(bool shown) {
  if (!Edit1) return;
  Edit1->setVisible(shown);
  FontSpeedButton->setVisible(shown);
}

void DrawingControls::SizeEdit1() {
  if (!Edit1) return;
  const QFontMetrics metrics(Edit1->font());
  Edit1->resize(metrics.horizontalAdvance(Edit1->text()) + 10, metrics.height() + 10);
  FontSpeedButton->move(Edit1->x() + Edit1->width() + 2, Edit1->y());
}

void DrawingControls::ResumeArmedTool(bool anglesTab) {
  if (!port_.VideoOpen() || sets_.empty()) return;
  const DrawingControlSet& s = sets_.front();
  static constexpr Tool kShapeOrder[] = {Tool::Freehand, Tool::Line, Tool::VerticalLine, Tool::HorizontalLine,
                                         Tool::Rectangle, Tool::Ellipse};
  static constexpr Tool kAngleOrder[] = {Tool::GeneralAngle, Tool::VerticalAngle, Tool::HorizontalAngle};
  std::optional<Tool> armed;
  if (anglesTab) {
    for (Tool t : kAngleOrder)
      if (QToolButton* b = ToolButtonOf(s, t); b && b->isChecked()) armed = t;
  } else {
    for (Tool t : kShapeOrder)
      if (QToolButton* b = ToolButtonOf(s, t); b && b->isChecked()) armed = t;
  }
  if (armed) tools_.ResumeTool(*armed);
  else tools_.SetupToolPen();
}

void DrawingControls::RefreshFrame() {
  ShowTextBox(false);
  port_.RefreshFrame();
  Repaint();
}

void DrawingControls::AnglesChanged() {
  const QToolButton* results = sets_.empty() ? nullptr : sets_.front().ShowResultsSpeedButton;
  if (results && results->isChecked()) port_.ShowAnglesTable();
}

void DrawingControls::SaveShapesSpeedButtonClick(bool fromPalette) {
  if (!port_.VideoOpen()) return;
  if (!fromPalette || port_.PaletteSaveStopsPlayback()) port_.StopPlayback();
  const annotation::CompanionFileNames names = port_.FileNames();
  if (!MayReplace({names.ShapesFile, names.FreehandFile, names.FreehandGridFile, names.TextItemsFile})) return;
  const annotation::SaveResult r = store_.SaveDrawings(names);
  if (!r.ok()) port_.ShowError(r.error);
}

void DrawingControls::LoadShapesSpeedButtonClick() {
  if (!port_.VideoOpen()) return;
  port_.StopPlayback();
  const annotation::LoadResult r = store_.LoadDrawings(port_.FileNames(), port_.FrameWidth(), port_.FrameHeight());
  if (r.report) port_.ShowError(r.error);
  RefreshFrame();
}

void DrawingControls::UndoSpeedButtonClick() {
  tools_.Undo();
  Repaint();
}

void DrawingControls::ClearAllSpeedButtonClick(bool fromPalette) {
  tools_.ClearAll(fromPalette);
  Repaint();
}

void DrawingControls::SaveAnglesSpeedButtonClick() {
  if (!port_.VideoOpen()) return;
  port_.StopPlayback();
  if (!MayReplace({port_.FileNames().AnglesFile})) return;
  const annotation::SaveResult r = store_.SaveAngles(port_.FileNames().AnglesFile);
  if (!r.ok()) port_.ShowError(r.error);
}

void DrawingControls::LoadAnglesSpeedButtonClick() {
  if (!port_.VideoOpen()) return;
  port_.StopPlayback();
  const annotation::LoadResult r = store_.LoadAngles(port_.FileNames().AnglesFile);
  if (r.report) port_.ShowError(r.error);
  if (r.FileFound()) RefreshFrame();
  port_.ShowAnglesTable();
}

void DrawingControls::UndoAnglesSpeedButtonClick() {
  tools_.UndoAngle();
  Repaint();
}

void DrawingControls::ResetAnglesSpeedButtonClick() {
  tools_.ResetAngles();
  Repaint();
}

void DrawingControls::ShowResultsSpeedButtonClick(bool down) {
  for (const DrawingControlSet& s : sets_)
    if (s.ShowResultsSpeedButton) s.ShowResultsSpeedButton->setChecked(down);
  if (down && port_.VideoOpen())
    port_.ShowAnglesTable();
  else
    port_.HideAnglesTable();
}

// ---- colours, widths, font ----

void DrawingControls::ShowSwatches(const DrawingControlSet* alsoOn) {
  auto paint = [this](const DrawingControlSet& s) {
    SetSwatch(s.ShapesSpinEdit, tools_.Settings.penColour,
              tools_.Settings.clearBrush ? core::clWhite : tools_.Settings.fillColour);
    SetSwatch(s.AnglesSpinEdit, tools_.Settings.angleColour, std::nullopt);
    if (s.PenSize) {
      QPalette colours = s.PenSize->palette();
      colours.setColor(QPalette::WindowText, core::ToQColor(tools_.Settings.penColour));
      s.PenSize->setPalette(colours);
      s.PenSize->setText(QString::number(tools_.Settings.penWidth));
    }
  };
  for (const DrawingControlSet& s : sets_) paint(s);
  if (alsoOn) paint(*alsoOn);
}

void DrawingControls::ShapesColourButtonClick() {
  if (tools_.ChoosePenColour(ui::AppDialogs())) ShowSwatches();
}

void DrawingControls::ShapesBackgroungColorButtonClick() {
  if (tools_.ChooseFillColour(ui::AppDialogs())) ShowSwatches();
}

void DrawingControls::AnglesSpeedButtonClick() {
  if (tools_.ChooseAngleColour(ui::AppDialogs())) ShowSwatches();
}

void DrawingControls::FontSpeedButtonClick() {
  const auto font = tools_.ChooseTextFont(ui::AppDialogs());
  if (font && Edit1) {
    Edit1->setFont(ui::ToQFont(*font));
    QPalette pal = Edit1->palette();
    pal.setColor(QPalette::Text, core::ToQColor(font->color));
    Edit1->setPalette(pal);
    SizeEdit1();
  }
  Repaint();
}

void DrawingControls::ShapesSpinEditChange(int value) {
  tools_.SetPenWidth(value);
  const int width = tools_.Settings.penWidth;
  for (const DrawingControlSet& s : sets_)
    for (QSpinBox* spin : {s.ShapesSpinEdit, s.PenWidth})
      if (spin && spin->value() != width) {
        QSignalBlocker block(spin);
        spin->setValue(width);
      }
  ShowSwatches();
}

void DrawingControls::PenSizeChange(int value) { ShapesSpinEditChange(value); }

void DrawingControls::PenColorClick() {
  if (tools_.ChoosePenColour(ui::AppDialogs())) ShowSwatches();
}

void DrawingControls::AnglesSpinEditChange(int value) {
  tools_.Settings.angleWidth = value;
  canvas_.Pen.Width = value;
  for (const DrawingControlSet& s : sets_)
    if (s.AnglesSpinEdit && s.AnglesSpinEdit->value() != value) {
      QSignalBlocker block(s.AnglesSpinEdit);
      s.AnglesSpinEdit->setValue(value);
    }
}

void DrawingControls::ClearBrushClick(bool down) {
  tools_.Settings.clearBrush = down;
  for (const DrawingControlSet& s : sets_)
    if (s.ClearBrush) s.ClearBrush->setChecked(down);
  ShowSwatches();
}

// ---- mouse and keys ----

bool DrawingControls::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_) {
    const auto* mouse = dynamic_cast<QMouseEvent*>(event);
    const QPoint p = mouse ? mouse->position().toPoint() : QPoint();
    switch (event->type()) {
      case QEvent::MouseButtonPress:
        if (mouse->button() == Qt::LeftButton || mouse->button() == Qt::RightButton) tools_.MouseDown(p);
        Repaint();
        break;
      case QEvent::MouseMove:
        tools_.MouseMove(p);
        Repaint();
        break;
      case QEvent::MouseButtonRelease:
        tools_.MouseUp(p);
        Repaint();
        break;
      case QEvent::MouseButtonDblClick:
        tools_.DoubleClick();
        Repaint();
        break;
      default: break;
    }
    return false;
  }
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Control) return false;
    for (std::size_t i = 0; i < sets_.size(); ++i)
      for (int n = 1; n <= annotation::DrawingStore::kMarkerCount; ++n) {
        QToolButton* button = sets_[i].Std[n - 1];
        if (watched != button) continue;
        DrawingControls* w = this;
        if (i > 0 && paletteTarget_) w = paletteTarget_(button->window());
        if (w) w->StdKeyDown(n, kControlKey);
        return false;
      }
  }
  return false;
}

}  // namespace kestrom::drawing
