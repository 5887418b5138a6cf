// ChangePasswordFormUnit: the dialog's controls; storing and saving is
// ChangeAdminPassword.
#include "app/ChangePasswordFormUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/AdminPasswordUnit.h"
#include "gui/GuiCommonUnit.h"

TChangePasswordForm::TChangePasswordForm(QWidget* parent) : QDialog(parent) {
  const TFormRow& form = FormRow("TChangePasswordForm");
  SetupFormDialog(this, form);

  Image1 = Place<QLabel>(this, form, "Image1");
  Image1->setAttribute(Qt::WA_TranslucentBackground);
  Label1 = Place<QLabel>(this, form, "Label1");
  Label2 = Place<QLabel>(this, form, "Label2");
  edtPswd = Place<QLineEdit>(this, form, "edtPswd");
  edtConfirmPswd = Place<QLineEdit>(this, form, "edtConfirmPswd");
  btnOK = Place<QPushButton>(this, form, "btnOK");
  btnCancel = Place<QPushButton>(this, form, "btnCancel");
  UseDialogGlyphs(btnOK, btnCancel);

  SetTabOrderByTable(this, form);
  edtPswd->setFocus();

  connect(btnOK, &QPushButton::clicked, this, &TChangePasswordForm::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TChangePasswordForm::btnOKClick() {
  RunGuarded([this] {
    if (!ChangeAdminPassword(ToAnsi(edtPswd->text()), ToAnsi(edtConfirmPswd->text()))) {
      ShowTableMessage(this, "PasswordMismatch");
      return;
    }
    ShowTableMessage(this, "PasswordChanged");
    accept();
  });
}

void ShowChangePassword(QWidget* parent) {
  TChangePasswordForm form(parent);
  form.exec();
}
