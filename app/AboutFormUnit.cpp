// AboutFormUnit: the about box's controls; the title comes from TitleForMode.
#include "app/AboutFormUnit.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/MainUnit.h"
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
  const QString title = FromAnsi(TitleForMode(InterfaceMode.load()));
  setWindowTitle(QStringLiteral("关于 ") + title);
  lblAppTitle->setText(title);
  lblVersion->setText(QStringLiteral("版本 1.0.0.0"));
  lblCopyright->setText(QStringLiteral("版权所有 (C) 2009-2026 Tarvik"));
  lblCompany->setText(QStringLiteral("Tarvik 酒店软件有限公司"));
  for (QLabel* label : {lblAppTitle, lblVersion, lblCopyright, lblCompany}) label->adjustSize();
}

void ShowAbout() {
  TAboutForm form;
  form.exec();
}
