#include "analysis/sheets/SheetOutput.h"

#include "platform/jpeg/Jpeg.h"
#include "platform/ui/Printing.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>

namespace kestrom::sheets {

void CopyPictureToClipboard(const QImage& picture) {
  QGuiApplication::clipboard()->setImage(picture.convertToFormat(QImage::Format_RGB32));
}

ui::FileRequest JpegSaveDialog() {
  ui::FileRequest request;
  request.filter = "JPEG|*.jpg";
  request.defaultExt = "jpg";
  return request;
}

bool SavePictureAsJpeg(const QImage& picture, const ui::FileRequest& dialog, QWidget* owner) {
  std::optional<QString> chosen = ui::AppDialogs().SaveFile(dialog, owner);
  if (!chosen || chosen->isEmpty()) return false;
  QString path = *chosen;
  if (!dialog.defaultExt.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += "." + dialog.defaultExt;
  try {
    jpeg::CompressToFile(picture, path);
  } catch (const jpeg::JpegError& error) {
    ui::MessageRequest message;
    message.text = QString::fromUtf8(error.what());
    if (error.Code() < 0 && error.Detail() != message.text) message.text += "\r\n" + error.Detail();
    message.type = ui::MsgDlgType::mtError;
    ui::AppDialogs().MessageDlg(message, owner);
    return false;
  }
  return true;
}

bool PrintPictureWithDialog(const QImage& picture, const QString& documentName, QWidget* owner) {
  std::optional<ui::PrintTarget> target = ui::AppDialogs().ChoosePrinter(owner);
  if (!target) return false;
  const QString error = ui::PrintPicture(picture, *target, documentName);
  if (error.isEmpty()) return true;
  ui::MessageRequest message;
  message.text = error;
  message.type = ui::MsgDlgType::mtError;
  ui::AppDialogs().MessageDlg(message, owner);
  return false;
}

}  // namespace kestrom::sheets
