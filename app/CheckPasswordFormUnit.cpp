// CheckPasswordFormUnit: the prompt's controls; the check is IsAdminPassword.
#include "app/CheckPasswordFormUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/AdminPasswordUnit.h"
#include "gui/GuiCommonUnit.h"

TCheckPasswordForm::TCheckPasswordForm(QWidget* parent) : QDialog(parent) {
  const TFormRow& form = FormRow("TCheckPasswordForm");
  SetupFormDialog(this, form);

  Image1 = Place<QLabel>(this, form, "Image1");
  Image1->setAttribute(Qt::WA_TranslucentBackground);
  Label1 = Place<QLabel>(this, form, "Label1");
  edtPswd = Place<QLineEdit>(this, form, "edtPswd");
  btnOK = Place<QPushButton>(this, form, "btnOK");
  btnCancel = Place<QPushButton>(this, form, "btnCancel");
  UseDialogGlyphs(btnOK, btnCancel);

  SetTabOrderByTable(this, form);
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
    ShowTableMessage(this, "WrongPassword");
    edtPswd->setFocus();
  });
}

bool ConfirmAdminPassword(QWidget* parent) {
  TCheckPasswordForm form(parent);
  return form.exec() == QDialog::Accepted;
}
