// AboutFormUnit: the about box.
//
// TAboutForm names the interface of the current interface mode and its
// version beside a picture (a JPEG, decoded by Qt's JPEG image plug-in).
// GUI thread only.
#ifndef VELIO_APP_ABOUTFORMUNIT_H_
#define VELIO_APP_ABOUTFORMUNIT_H_

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls, then FormCreate fills the labels for InterfaceMode.
  explicit TAboutForm(QWidget* parent = nullptr);

  QLabel* Image1;
  QLabel* lblAppTitle;
  QLabel* lblVersion;
  QLabel* lblCopyright;
  QLabel* lblCompany;
  QPlainTextEdit* mmo;
  QPushButton* btnOK;

 private:
  void FormCreate();
};

// Shows the about box modally and frees it when it closes.
void ShowAbout();

#endif  // VELIO_APP_ABOUTFORMUNIT_H_
