// ChangePasswordFormUnit: the dialog's controls; storing and saving is
// ChangeAdminPassword.
#include "app/ChangePasswordFormUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>

#include "app/AdminPasswordUnit.h"
#include "gui/GuiCommonUnit.h"

namespace {

QLineEdit* PasswordEdit(QWidget* parent, const char* name, int top) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(176, top, 137, 20);
  UsePasswordCharacter(edit);
  return edit;
}

}  // namespace

TChangePasswordForm::TChangePasswordForm(QWidget* parent) : QDialog(parent) {
  SetupFixedDialog(this, "ChangePasswordForm", 346, 163, QStringLiteral("更改管理员密码"),
                   DialogFont());

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(28, 24, 48, 48);
  Image1->setPixmap(QPixmap(QStringLiteral(":/velio/key48.png")));
  Image1->setAttribute(Qt::WA_TranslucentBackground);

  Label1 = PlaceLabel(this, "Label1", QStringLiteral("新密码："), 124, 32);
  Label2 = PlaceLabel(this, "Label2", QStringLiteral("新密码确认："), 100, 68);
  edtPswd = PasswordEdit(this, "edtPswd", 28);
  edtConfirmPswd = PasswordEdit(this, "edtConfirmPswd", 64);

  const TOkCancelButtons buttons =
      PlaceOkCancelButtons(this, "btnOK", "btnCancel", 154, 242, 116, 73, 23, true);
  btnOK = buttons.Ok;
  btnCancel = buttons.Cancel;

  setTabOrder(edtPswd, edtConfirmPswd);
  setTabOrder(edtConfirmPswd, btnOK);
  setTabOrder(btnOK, btnCancel);
  edtPswd->setFocus();

  connect(btnOK, &QPushButton::clicked, this, &TChangePasswordForm::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TChangePasswordForm::btnOKClick() {
  RunGuarded([this] {
    if (!ChangeAdminPassword(ToAnsi(edtPswd->text()), ToAnsi(edtConfirmPswd->text()))) {
      ShowMessageBox(this, QStringLiteral("您两次输入的密码不一致，请重新输入！"),
                     QStringLiteral("提示"), QMessageBox::Critical);
      return;
    }
    ShowMessageBox(this, QStringLiteral("管理员密码更改成功！"), QStringLiteral("提示"),
                   QMessageBox::Information);
    accept();
  });
}

void ShowChangePassword(QWidget* parent) {
  TChangePasswordForm form(parent);
  form.exec();
}
