// CheckPasswordFormUnit: the administrator password prompt.
//
// TCheckPasswordForm asks for the administrator password before the main
// window closes, before the options and before the change dialog. Its "确定"
// closes it only for the right password; a wrong one shows "密码错误 ！" and
// the prompt stays open for another try. GUI thread only.
#ifndef VELIO_APP_CHECKPASSWORDFORMUNIT_H_
#define VELIO_APP_CHECKPASSWORDFORMUNIT_H_

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TCheckPasswordForm : public QDialog {
  Q_OBJECT

 public:
  explicit TCheckPasswordForm(QWidget* parent = nullptr);

  QLabel* Image1;
  QLabel* Label1;
  QLineEdit* edtPswd;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 public slots:
  // Accepts the dialog when the typed password is right; otherwise shows the
  // error message and puts the focus back into the entry.
  void btnOKClick();
};

// Shows the prompt modally over parent (the main window). Answers true only
// when it ended with "确定" after the right password; cancel, Esc and the close
// box answer false.
bool ConfirmAdminPassword(QWidget* parent = nullptr);

#endif  // VELIO_APP_CHECKPASSWORDFORMUNIT_H_
