// CheckPasswordFormUnit: the prompt's controls; the check is IsAdminPassword.
#include "app/CheckPasswordFormUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>

#include "app/AdminPasswordUnit.h"
#include "gui/GuiCommonUnit.h"

TCheckPasswordForm::TCheckPasswordForm(QWidget* parent) : QDialog(parent) {
  SetupFixedDialog(this, "CheckPasswordForm", 306, 140, QStringLiteral("请输入管理员密码"),
                   DialogFont());

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(28, 28, 32, 32);
  Image1->setPixmap(QPixmap(QStringLiteral(":/velio/key32.png")));
  Image1->setAttribute(Qt::WA_TranslucentBackground);

  Label1 = PlaceLabel(this, "Label1", QStringLiteral("密码："), 88, 40);

  edtPswd = new QLineEdit(this);
  edtPswd->setObjectName(QStringLiteral("edtPswd"));
  edtPswd->setGeometry(128, 36, 153, 20);
  UsePasswordCharacter(edtPswd);

  const TOkCancelButtons buttons =
      PlaceOkCancelButtons(this, "btnOK", "btnCancel", 120, 208, 96, 73, 23, true);
  btnOK = buttons.Ok;
  btnCancel = buttons.Cancel;

  setTabOrder(edtPswd, btnOK);
  setTabOrder(btnOK, btnCancel);
  edtPswd->setFocus();

  connect(btnOK, &QPushButton::clicked, this, &TCheckPasswordForm::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TCheckPasswordForm::btnOKClick() {
  RunGuarded([this] {
    if (IsAdminPassword(ToAnsi(edtPswd->text()))) {
      accept();
      return;
    }
    ShowMessageBox(this, QStringLiteral("密码错误 ！"), QStringLiteral("提示"),
                   QMessageBox::Critical);
    edtPswd->setFocus();
  });
}

bool ConfirmAdminPassword(QWidget* parent) {
  TCheckPasswordForm form(parent);
  return form.exec() == QDialog::Accepted;
}
