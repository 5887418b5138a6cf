// AboutFormUnit: the about box's controls; its texts are AboutLinesForMode's.
#include "app/AboutFormUnit.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/MainWindowUnit.h"
#include "gui/GuiCommonUnit.h"
#include "services/InterfaceModeUnit.h"

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  const TFormRow& form = FormRow("TAboutForm");
  SetupFormDialog(this, form);

  Image1 = Place<QLabel>(this, form, "Image1");
  lblAppTitle = Place<QLabel>(this, form, "lblAppTitle");
  lblVersion = Place<QLabel>(this, form, "lblVersion");
  lblCopyright = Place<QLabel>(this, form, "lblCopyright");
  lblCompany = Place<QLabel>(this, form, "lblCompany");
  mmo = Place<QPlainTextEdit>(this, form, "mmo");
  mmo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  btnOK = Place<QPushButton>(this, form, "btnOK");
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

  FormCreate();
}

void TAboutForm::FormCreate() {
  const TAboutLines lines = AboutLinesForMode(InterfaceMode.load());
  setWindowTitle(FromAnsi(lines.Caption));
  lblAppTitle->setText(FromAnsi(lines.AppTitle));
  lblVersion->setText(FromAnsi(lines.Version));
  lblCopyright->setText(FromAnsi(lines.Copyright));
  lblCompany->setText(FromAnsi(lines.Company));
  for (QLabel* label : {lblAppTitle, lblVersion, lblCopyright, lblCompany}) label->adjustSize();
}

void ShowAbout() {
  TAboutForm form;
  form.exec();
}
