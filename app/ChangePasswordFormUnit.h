// ChangePasswordFormUnit: the administrator password change dialog.
//
// TChangePasswordForm takes the new password twice. "确定" stores it and saves
// the system options at once when both entries agree (after trimming); a
// mismatch or a failing save keeps the dialog open. GUI thread only.
#ifndef VELIO_APP_CHANGEPASSWORDFORMUNIT_H_
#define VELIO_APP_CHANGEPASSWORDFORMUNIT_H_

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TChangePasswordForm : public QDialog {
  Q_OBJECT

 public:
  explicit TChangePasswordForm(QWidget* parent = nullptr);

  QLabel* Image1;
  QLabel* Label1;
  QLabel* Label2;
  QLineEdit* edtPswd;
  QLineEdit* edtConfirmPswd;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 public slots:
  // Mismatch: "您两次输入的密码不一致，请重新输入！", the dialog stays. Match:
  // store, save, "管理员密码更改成功！", accept. A save error goes to the error
  // box and the dialog stays.
  void btnOKClick();
};

// Shows the change dialog modally over parent (the main window).
void ShowChangePassword(QWidget* parent = nullptr);

#endif  // VELIO_APP_CHANGEPASSWORDFORMUNIT_H_
