// GuiCommonUnit: conversions, fonts, dialogs and message boxes.
//
// Message boxes are built here and run with exec(), unless a test has
// installed an interceptor. RunGuarded is what stands in for the framework's
// last-chance error handler: Qt does not let exceptions cross its event loop,
// so every slot that can fail runs its body through it.
#include "gui/GuiCommonUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

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

QString TableText(const char* text) {
  return QString::fromUtf8(text);
}

QFont FormFont(const TFormRow& form) {
  return form.Font == TFormFont::Window ? MainWindowFont() : DialogFont();
}

void SetupFormDialog(QDialog* dialog, const TFormRow& form) {
  SetupFixedDialog(dialog, form.Name + 1, form.Width, form.Height, TableText(form.Caption),
                   FormFont(form));
}

void UsePasswordCharacter(QLineEdit* edit) {
  edit->setEchoMode(QLineEdit::Password);
  // 42 is '*'; the style sheet overrides the style's password character.
  edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

void PlaceByRow(QWidget* widget, const TControlRow& row) {
  widget->setObjectName(QString::fromLatin1(row.Name));
  if (row.Width > 0 && row.Height > 0)
    widget->setGeometry(row.Left, row.Top, row.Width, row.Height);
}

QWidget* PlaceControl(QWidget* parent, const TControlRow& row) {
  const QString text = TableText(row.Text);
  QWidget* widget = nullptr;
  switch (row.Kind) {
    case TControlKind::Label: {
      auto* label = new QLabel(text, parent);
      label->move(row.Left, row.Top);
      label->adjustSize();
      widget = label;
      break;
    }
    case TControlKind::Image: {
      EnsureGuiResources();
      auto* image = new QLabel(parent);
      image->setPixmap(QPixmap(QStringLiteral(":/velio/") + QString::fromLatin1(row.Image)));
      widget = image;
      break;
    }
    case TControlKind::Button: {
      auto* button = new QPushButton(text, parent);
      button->setDefault(row.Default);
      if (!row.Default && !row.Cancel) button->setAutoDefault(false);
      widget = button;
      break;
    }
    case TControlKind::Edit:
    case TControlKind::PasswordEdit: {
      auto* edit = new QLineEdit(text, parent);
      if (row.Kind == TControlKind::PasswordEdit) UsePasswordCharacter(edit);
      widget = edit;
      break;
    }
    case TControlKind::ComboBox: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(!row.ListOnly);
      if (!row.ListOnly) combo->setInsertPolicy(QComboBox::NoInsert);
      for (std::string_view item : ComboItems(row))
        combo->addItem(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
      widget = combo;
      break;
    }
    case TControlKind::CheckBox:
      widget = new QCheckBox(text, parent);
      break;
    case TControlKind::Memo: {
      auto* memo = new QPlainTextEdit(text, parent);
      memo->setEnabled(!row.Disabled);
      widget = memo;
      break;
    }
    default:
      throw std::out_of_range(std::string("no control is made for the row ") + row.Name);
  }
  PlaceByRow(widget, row);
  return widget;
}

void UseDialogGlyphs(QPushButton* ok, QPushButton* cancel) {
  ok->setIcon(ok->style()->standardIcon(QStyle::SP_DialogOkButton));
  cancel->setIcon(cancel->style()->standardIcon(QStyle::SP_DialogCancelButton));
}

void SetTabOrderByTable(QWidget* window, const TFormRow& form) {
  std::vector<const TControlRow*> stops;
  for (const TControlRow& row : form.Controls) {
    if (row.TabOrder >= 0) stops.push_back(&row);
  }
  std::sort(stops.begin(), stops.end(),
            [](const TControlRow* a, const TControlRow* b) { return a->TabOrder < b->TabOrder; });
  QWidget* previous = nullptr;
  for (const TControlRow* row : stops) {
    auto* widget = window->findChild<QWidget*>(QString::fromLatin1(row->Name));
    if (previous && widget) QWidget::setTabOrder(previous, widget);
    if (widget) previous = widget;
  }
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

QMessageBox::StandardButton ShowTableMessage(QWidget* parent, const char* name) {
  const TMessageRow& row = MessageRow(name);
  const QString caption = *row.Caption ? TableText(row.Caption) : ApplicationTitle();
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  if (row.Icon == TMessageIcon::Information) icon = QMessageBox::Information;
  if (row.Icon == TMessageIcon::Critical) icon = QMessageBox::Critical;
  return ShowMessageBox(parent, TableText(row.Text), caption, icon);
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
