#pragma once
// The first-run forms: the frame-server and codec registration forms, which offer to run an
// installer from the program folder, and the hidden set-up form that answers the codec and
// media-layer questions.

#include <QDialog>
#include <QObject>
#include <QString>

class QLabel;
class QPushButton;
class QFrame;

namespace kestrom::shell {

class TRegistrationAviForm final : public QDialog {
  Q_OBJECT
 public:
  explicit TRegistrationAviForm(QWidget* parent = nullptr);
  /** @brief True when the frame server is usable, after offering its installer; only the first call checks. */
  bool CheckAviSynth();
  bool IsAviSynthInstalled();
  /** @brief "OK": runs the installer and waits for it, then closes the form. */
  void BitBtn1Click();

  QString AviSynthPath;  // the installer, in the program folder
  int CallCount = 0;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QPushButton* BitBtn1 = nullptr;
};

class TRegistrationCodecForm final : public QDialog {
  Q_OBJECT
 public:
  explicit TRegistrationCodecForm(QWidget* parent = nullptr);
  /** @brief True when the codec is present, after offering its installer; only the first call checks. */
  bool CheckCodecs();
  bool IsCodecInstalled();
  /** @brief "OK": runs the codec installer, then tells whether the codec is now present. */
  void BitBtn1Click();
  /** @brief Closing with the codec still missing tells the coach and ends the program. */
  void FormClose();

  QString CodecPath;  // the installer, in the program folder
  int CallCount = 0;

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QFrame* Panel2 = nullptr;
  QLabel* AviSynthReturnlabel = nullptr;
};

/** @brief Reads the media layer's version text. */
class TOtherInfo final : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  /** @brief The version text, or empty when it cannot be read. */
  void GetDirectXVersion(QString& version);
};

class TKestrom903InstallForm final : public QDialog {
  Q_OBJECT
 public:
  explicit TKestrom903InstallForm(QWidget* parent = nullptr);
  /** @brief Builds the codec file's path on the first call of a run (true); later calls do nothing (false). */
  bool InitSystemPaths();
  bool HasMpeg4Codec();
  bool HasDirectX8Or9();

  QString CodecFile;
  TOtherInfo* OtherInfo1 = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  bool pathsDone_ = false;
};

}  // namespace kestrom::shell
