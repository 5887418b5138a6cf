// AboutFormUnit: the about box's controls; the title comes from TitleForMode.
#include "app/AboutFormUnit.h"

#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/MainUnit.h"
#include "gui/GuiCommonUnit.h"
#include "services/InterfaceModeUnit.h"

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  SetupFixedDialog(this, "AboutForm", 413, 262, QStringLiteral("关于..."), DialogFont());

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->move(12, 12);
  Image1->setPixmap(QPixmap(QStringLiteral(":/velio/about.jpg")));
  Image1->adjustSize();

  lblAppTitle = PlaceLabel(this, "lblAppTitle", QStringLiteral("lblAppTitle"), 156, 16);
  lblVersion = PlaceLabel(this, "lblVersion", QStringLiteral("lblVersion"), 156, 35);
  lblCopyright = PlaceLabel(this, "lblCopyright", QStringLiteral("lblCopyright"), 156, 53);
  lblCompany = PlaceLabel(this, "lblCompany", QStringLiteral("lblCompany"), 156, 72);

  mmo = new QPlainTextEdit(this);
  mmo->setObjectName(QStringLiteral("mmo"));
  mmo->setGeometry(156, 96, 245, 125);
  mmo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmo->setEnabled(false);

  btnOK = new QPushButton(QStringLiteral("确定(&O)"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(330, 230, 73, 23);
  btnOK->setDefault(true);
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
