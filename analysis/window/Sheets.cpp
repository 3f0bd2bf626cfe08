#include "analysis/window/Sheets.h"

#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Palettes.h"
#include "platform/media/MediaPlayer.h"

#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

TCapture1::TCapture1(QWidget* parent) : TSinglePictureSheet(parent) { FormCreate(); }

void TCapture1::SaveasJPEG1Click() {
  if (TKestromForm* main = Forms().MainWindow) main->SaveCapture1AsJPEG(this);
}

void TCapture1::FormCreate() {
  AppForms& forms = Forms();
  TKestromForm* main = forms.MainWindow;
  TKestromForm* best = forms.BestWindow;
  if (!main || !best) return;
  best->SplitScreenButton->hide();
  best->SpeedButton4->hide();
  best->Teaching->hide();

  main->MarkerForm->OwnerIndex = 1;
  main->MarkerForm->setWindowTitle("Markers - Main");
  best->MarkerForm->OwnerIndex = 2;
  best->MarkerForm->setWindowTitle("Markers - Best");
  main->ShapesControlForm->OwnerIndex = 1;
  main->ShapesControlForm->setWindowTitle("Shapes - Main");
  best->ShapesControlForm->OwnerIndex = 2;
  best->ShapesControlForm->setWindowTitle("Shapes - Best");
  main->AnglesControlForm->OwnerIndex = 1;
  main->AnglesControlForm->setWindowTitle("Angles - Main");
  best->AnglesControlForm->OwnerIndex = 2;
  best->AnglesControlForm->setWindowTitle("Angles - Best");

  main->MediaPlayer1->SetDisplay(&main->WindowCanvas.Image());
  best->MediaPlayer1->SetDisplay(&best->WindowCanvas.Image());

  main->IsMain = true;
  main->IsBest = false;
  best->IsMain = false;
  best->IsBest = true;

  const QFont font = main->font();
  forms.SharedTextFont.name = font.family();
  forms.SharedTextFont.size = font.pointSize() > 0 ? font.pointSize() : 10;
  forms.SharedTextFont.bold = font.bold();
  forms.SharedTextFont.italic = font.italic();
  main->TextFontButton->setFont(font);
  best->TextFontButton->setFont(font);

  best->CreateExportAVIButton->hide();
  best->CancelAVIExportButton->hide();

  main->StartTimer->setInterval(5);
  main->StartTimer->start();
}

}  // namespace kestrom::window
