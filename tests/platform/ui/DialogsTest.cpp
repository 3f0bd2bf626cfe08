#include "platform/ui/DialogParts.h"
#include "platform/ui/Dialogs.h"
#include "tests/platform/ui/TestDialogs.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QPushButton>
#include <gtest/gtest.h>

namespace kestrom::ui {

namespace {
MessageRequest Msg(const QString& text, MsgDlgType type = MsgDlgType::mtInformation, MsgDlgButtons buttons = mbOK,
                   QPoint position = {-1, -1}) {
  MessageRequest r;
  r.text = text;
  r.type = type;
  r.buttons = buttons;
  r.position = position;
  return r;
}

FileRequest File(const QString& title, const QString& filter, const QString& initialDir = {}) {
  FileRequest r;
  r.title = title;
  r.filter = filter;
  r.initialDir = initialDir;
  return r;
}
}  // namespace

TEST(ScriptedDialogs, AnswersInOrderAndRecordsWhatWasAsked) {
  ScopedTestDialogs scope;
  ScriptedDialogs& d = scope.dialogs;
  d.Push(mrNo);
  d.Push(QString("/clips/jump.avi"));
  d.Push(std::monostate{});  // the save dialog is cancelled
  d.Push(FontChoice{"DejaVu Sans", 14, true, false, false, false, core::clRed});
  d.Push(core::clTeal);
  d.Push(QString("3.5"));
  d.Push(PrintTarget{"", "/tmp/sheet.pdf", 2, true});

  EXPECT_EQ(AppDialogs().MessageDlgPos("Save the drawings ?", MsgDlgType::mtConfirmation, mbYesNoCancel, 164, 186),
            mrNo);
  const FileRequest open = File("Open", "Video|*.avi;*.avs", "/clips");
  EXPECT_EQ(AppDialogs().OpenFile(open), "/clips/jump.avi");
  EXPECT_EQ(AppDialogs().SaveFile(File("Save", "JPEG|*.jpg")), std::nullopt);
  const auto font = AppDialogs().ChooseFont(FontChoice{});
  ASSERT_TRUE(font);
  EXPECT_EQ(font->size, 14);
  EXPECT_EQ(AppDialogs().ChooseColor(core::clBlack), core::clTeal);
  EXPECT_EQ(AppDialogs().InputQuery({"Distance", "Metres", "1.0"}), "3.5");
  const auto printer = AppDialogs().ChoosePrinter();
  ASSERT_TRUE(printer);
  EXPECT_EQ(printer->pdfFile, "/tmp/sheet.pdf");

  EXPECT_EQ(d.Pending(), 0u);
  EXPECT_TRUE(d.Errors().isEmpty()) << d.Errors().join("; ").toStdString();
  ASSERT_EQ(d.Asked().size(), 7u);
  const auto& message = std::get<MessageRequest>(d.Asked()[0]);
  EXPECT_EQ(message.text, "Save the drawings ?");
  EXPECT_EQ(message.type, MsgDlgType::mtConfirmation);
  EXPECT_EQ(message.buttons, mbYesNoCancel);
  EXPECT_EQ(message.position, QPoint(164, 186));
  EXPECT_EQ(std::get<FileRequest>(d.Asked()[1]).initialDir, "/clips");
  EXPECT_EQ(std::get<FileRequest>(d.Asked()[2]).filter, "JPEG|*.jpg");
  EXPECT_EQ(std::get<core::TColor>(d.Asked()[4]), core::clBlack);
  EXPECT_EQ(std::get<InputRequest>(d.Asked()[5]).defaultValue, "1.0");
  EXPECT_EQ(d.MessageTexts(), QStringList{"Save the drawings ?"});
}

TEST(ScriptedDialogs, MissingOrMismatchedAnswersAreRecordedAsErrors) {
  ScriptedDialogs d;
  QStringList reported;
  d.SetFailureHandler([&](const QString& m) { reported << m; });

  EXPECT_EQ(d.MessageDlg(Msg("No answer queued"), nullptr), mrCancel);
  d.Push(QString("not a result"));
  EXPECT_EQ(d.MessageDlg(Msg("Wrong kind"), nullptr), mrCancel);
  d.Push(mrYes);
  EXPECT_EQ(d.MessageDlg(Msg("Only OK", MsgDlgType::mtWarning), nullptr), mrYes);
  d.Push(mrOk);
  EXPECT_EQ(d.OpenFile({}, nullptr), std::nullopt);
  d.Push(mrCancel);  // closing any box is always possible
  EXPECT_EQ(d.MessageDlg(Msg("Closed"), nullptr), mrCancel);

  ASSERT_EQ(d.Errors().size(), 4);
  EXPECT_EQ(reported, d.Errors());
  EXPECT_TRUE(d.Errors()[0].contains("no answer"));
  EXPECT_TRUE(d.Errors()[1].contains("text"));
  EXPECT_TRUE(d.Errors()[2].contains("Only OK"));
  EXPECT_TRUE(d.Errors()[3].contains("open file"));
  EXPECT_EQ(d.Asked().size(), 5u);
}

TEST(ScriptedDialogs, ScopeRestoresTheRealDialogsAndReportsUnusedAnswers) {
  QStringList reported;
  SetScriptedDialogsFailureHandler([&](const QString& m) { reported << m; });
  {
    ScopedScriptedDialogs scope;
    EXPECT_EQ(&AppDialogs(), &scope.dialogs);
    scope.dialogs.Push(mrOk);
    scope.dialogs.Push(QString("never asked"));
    EXPECT_EQ(AppDialogs().MessageDlg(Msg("Done")), mrOk);
  }
  SetScriptedDialogsFailureHandler(nullptr);
  EXPECT_NE(dynamic_cast<QtDialogs*>(&AppDialogs()), nullptr);
  ASSERT_EQ(reported.size(), 1);
  EXPECT_TRUE(reported[0].contains("1 queued answer"));
}

TEST(QtDialogs, ToolkitFiltersBecomeQtNameFilters) {
  struct Case { const char* toolkit; QStringList qt; };
  const Case cases[] = {
      {"JPEG|*.jpg", {"JPEG (*.jpg)"}},
      {"Video|*.avi;*.avs|All|*.*", {"Video (*.avi *.avs)", "All (*)"}},
      {"AVI files (*.avi)|*.avi", {"AVI files (*.avi)"}},
      {"|*.bmp", {"*.bmp (*.bmp)"}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(QtNameFilters(c.toolkit), c.qt) << c.toolkit;
}

TEST(QtDialogs, MessageBoxHasTheToolkitsCaptionButtonsAndPlace) {
  const MessageRequest request = Msg("You are about to use the Flip window.\r\nIs this OK ?",
                                     MsgDlgType::mtConfirmation, mbYes | mbNo | mbCancel, QPoint(264, 186));
  auto box = BuildMessageBox(request, nullptr);
  EXPECT_EQ(box->windowTitle(), "Confirm");
  EXPECT_EQ(box->text(), "You are about to use the Flip window.\nIs this OK ?");
  EXPECT_EQ(box->pos(), QPoint(264, 186));
  QStringList captions;
  QList<int> results;
  for (QAbstractButton* b : box->buttons()) {
    captions << b->text();
    results << ModalResultOf(b);
  }
  captions.sort();
  EXPECT_EQ(captions, (QStringList{"&No", "&Yes", "Cancel"}));
  EXPECT_EQ(ModalResultOf(box->escapeButton()), mrCancel);
  EXPECT_EQ(ModalResultOf(box->defaultButton()), mrYes);
  EXPECT_TRUE(results.contains(mrYes) && results.contains(mrNo) && results.contains(mrCancel));

  // Owned by the window that asks, holding the whole program, above every other window.
  QWidget asking;
  auto owned = BuildMessageBox(request, &asking);
  EXPECT_EQ(owned->parentWidget(), &asking);
  EXPECT_EQ(owned->windowModality(), Qt::ApplicationModal);
  EXPECT_TRUE(owned->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(owned->isWindow());

  auto single = BuildMessageBox(Msg("Sorry", MsgDlgType::mtError), nullptr);
  EXPECT_EQ(single->windowTitle(), "Error");
  EXPECT_EQ(ModalResultOf(single->escapeButton()), mrOk);
  EXPECT_EQ(NormaliseLineBreaks("a\n\rb\rc"), "a\nb\nc");
}

TEST(QtDialogs, FontDialogCarriesAColour) {
  const FontChoice initial{"DejaVu Sans", 14, true, false, true, false, core::clRed};
  FontColourDialog dialog(initial);
  EXPECT_EQ(dialog.Choice(), initial);
  dialog.SetColor(0x123456);  // not a named colour
  EXPECT_EQ(dialog.Choice().color, 0x123456);
  auto* combo = dialog.findChild<QComboBox*>("ColourComboBox");
  ASSERT_NE(combo, nullptr);
  combo->setCurrentIndex(combo->findText("Navy"));
  EXPECT_EQ(dialog.Choice().color, core::clNavy);
}

}  // namespace kestrom::ui
