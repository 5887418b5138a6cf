// GuiCommonUnit: conversions, fonts, dialogs and message boxes.
//
// Message boxes are built here and run with exec(), unless a test has
// installed an interceptor. RunGuarded is what stands in for the framework's
// last-chance error handler: Qt does not let exceptions cross its event loop,
// so every slot that can fail runs its body through it.
#include "gui/GuiCommonUnit.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <exception>

namespace {

TMessageBoxInterceptor& Interceptor() {
  static TMessageBoxInterceptor interceptor;
  return interceptor;
}

QFont FontWithFallback(const QString& family) {
  QFont font(family);
  font.setFamilies({family, QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                    QStringLiteral("Microsoft YaHei")});
  return font;
}

}  // namespace

QString FromAnsi(const AnsiString& text) {
  return QString::fromStdString(AnsiToUtf8(text));
}

AnsiString ToAnsi(const QString& text) {
  return Utf8ToAnsi(text.toStdString());
}

QFont MainWindowFont() {
  QFont font = FontWithFallback(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  return font;
}

QFont DialogFont() {
  QFont font = FontWithFallback(QStringLiteral("宋体"));
  font.setPixelSize(12);
  return font;
}

void EnsureGuiResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(VelioGui);
    return true;
  }();
  (void)registered;
}

void SetupFixedDialog(QDialog* dialog, const char* name, int width, int height,
                      const QString& caption, const QFont& font) {
  EnsureGuiResources();
  dialog->setObjectName(QString::fromLatin1(name));
  dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  dialog->setFixedSize(width, height);
  dialog->setWindowTitle(caption);
  dialog->setFont(font);
}

void UsePasswordCharacter(QLineEdit* edit) {
  edit->setEchoMode(QLineEdit::Password);
  // 42 is '*'; the style sheet overrides the style's password character.
  edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(left, top);
  label->adjustSize();
  return label;
}

QPushButton* PlaceButton(QWidget* parent, const char* name, const QString& text, int left,
                         int top) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(left, top, 75, 25);
  button->setAutoDefault(false);
  return button;
}

TOkCancelButtons PlaceOkCancelButtons(QDialog* dialog, const char* okName, const char* cancelName,
                                      int okLeft, int cancelLeft, int top, int width, int height,
                                      bool withIcons) {
  TOkCancelButtons pair;
  pair.Ok = new QPushButton(QStringLiteral("确定"), dialog);
  pair.Cancel = new QPushButton(QStringLiteral("取消"), dialog);
  if (withIcons) {
    pair.Ok->setIcon(dialog->style()->standardIcon(QStyle::SP_DialogOkButton));
    pair.Cancel->setIcon(dialog->style()->standardIcon(QStyle::SP_DialogCancelButton));
  }
  pair.Ok->setObjectName(QString::fromLatin1(okName));
  pair.Ok->setGeometry(okLeft, top, width, height);
  pair.Ok->setDefault(true);
  pair.Cancel->setObjectName(QString::fromLatin1(cancelName));
  pair.Cancel->setGeometry(cancelLeft, top, width, height);
  return pair;
}

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text,
                                           const QString& caption, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons) {
  if (Interceptor()) return Interceptor()(TMessageBoxCall{parent, text, caption, icon, buttons});
  QMessageBox box(icon, caption, text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void SetMessageBoxInterceptor(TMessageBoxInterceptor interceptor) {
  Interceptor() = std::move(interceptor);
}

QString ApplicationTitle() {
  return QCoreApplication::applicationName();
}

void SetApplicationTitle(const QString& title) {
  QCoreApplication::setApplicationName(title);
}

void ShowErrorBox(const QString& text) {
  ShowMessageBox(QApplication::activeWindow(), text, ApplicationTitle(), QMessageBox::Critical);
}

bool RunGuarded(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const std::exception& e) {
    ShowErrorBox(FromAnsi(e.what()));
  } catch (...) {
    ShowErrorBox(QStringLiteral("Unknown error"));
  }
  return false;
}
