// GuiCommonUnit: what every window shares.
//
// The text conversions between Qt and the system's code page 936 text, the
// fonts, the fixed-size dialog set-up, password boxes, the one function through
// which every message box and error box is shown (tests replace it with an
// interceptor, so no test ever blocks on a modal box), the application's title,
// and the guard that turns an error escaping a button or menu action into the
// standard error box.
//
// The forms use this unit; it uses no form. GUI thread only.
#ifndef VELIO_GUI_GUICOMMONUNIT_H_
#define VELIO_GUI_GUICOMMONUNIT_H_

#include <QFont>
#include <QMessageBox>
#include <QString>
#include <functional>

#include "platform/CodePageUnit.h"

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// Code page 936 text to a QString, and back (characters code page 936 cannot
// hold become '?').
QString FromAnsi(const AnsiString& text);
AnsiString ToAnsi(const QString& text);

// The main window's and the test windows' font: "MS Sans Serif" 8 pt, falling
// back to an installed CJK font so that Chinese text shows.
QFont MainWindowFont();
// The dialogs' font: "宋体" at 12 pixels with the same fallback.
QFont DialogFont();

// Registers the windows' pictures (the resource file linked into the GUI
// library); every window calls it before loading a picture. Idempotent.
void EnsureGuiResources();

// Makes dialog a fixed-size dialog (no resizing, no minimise or maximise box)
// with the given client area, caption, font and object name.
void SetupFixedDialog(QDialog* dialog, const char* name, int width, int height,
                      const QString& caption, const QFont& font);

// Makes edit a password box that shows "*" for every character typed
// (whatever the style's own password character is).
void UsePasswordCharacter(QLineEdit* edit);

// A label child of parent whose text starts at (left, top) and that takes the
// size of its text.
QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& text, int left, int top);

// A 75 x 25 push button child of parent at (left, top), as the test windows
// place theirs: never pressed by Enter (no auto-default).
QPushButton* PlaceButton(QWidget* parent, const char* name, const QString& text, int left,
                         int top);

// The dialogs' OK/Cancel pair: "确定", the default button, and "取消", named
// okName and cancelName, each width x height at (okLeft, top) and
// (cancelLeft, top). withIcons puts the style's OK and Cancel pictures on
// them (the password dialogs). The caller connects their clicks.
struct TOkCancelButtons {
  QPushButton* Ok = nullptr;
  QPushButton* Cancel = nullptr;
};
TOkCancelButtons PlaceOkCancelButtons(QDialog* dialog, const char* okName, const char* cancelName,
                                      int okLeft, int cancelLeft, int top, int width, int height,
                                      bool withIcons);

// One message box as the interceptor sees it.
struct TMessageBoxCall {
  QWidget* Parent = nullptr;
  QString Text;
  QString Caption;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons Buttons = QMessageBox::Ok;
};
using TMessageBoxInterceptor = std::function<QMessageBox::StandardButton(const TMessageBoxCall&)>;

// Shows a modal message box and answers the button pressed. With an
// interceptor installed no box is shown: the interceptor receives the call and
// its answer is returned.
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text,
                                           const QString& caption, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Installs an interceptor for every later message box; an empty one restores
// the real boxes.
void SetMessageBoxInterceptor(TMessageBoxInterceptor interceptor);

// The application's title: the caption of the standard error box and of plain
// message boxes. The main window sets it by interface mode; before that it is
// the program's name. It is kept as the application's name, never as Qt's
// display name, which the window system would append to every caption.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// The standard error box: text with the error icon, captioned with the
// application's title.
void ShowErrorBox(const QString& text);

// Runs action. An exception escaping it is shown in the standard error box
// (its message, code page 936) and swallowed. Answers true when action ran
// to its end.
bool RunGuarded(const std::function<void()>& action);

#endif  // VELIO_GUI_GUICOMMONUNIT_H_
