// GuiCommonUnit: what every window shares.
//
// The text conversions between Qt and the system's code page 936 text, the
// fonts, the fixed-size dialog set-up, the controls made from the form table's
// rows, password boxes, the one function through
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

#include "forms/FormTableUnit.h"
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

// The table's UTF-8 text as a QString.
QString TableText(const char* text);
// The window row's font: MainWindowFont or DialogFont.
QFont FormFont(const TFormRow& form);
// SetupFixedDialog with the window row's client size, caption and font; the
// object name is the row's name without its leading "T" (TOptionForm ->
// OptionForm).
void SetupFormDialog(QDialog* dialog, const TFormRow& form);

// Makes edit a password box that shows "*" for every character typed
// (whatever the style's own password character is).
void UsePasswordCharacter(QLineEdit* edit);

// Gives widget the row's name as its object name and, where the row has a
// size, the row's place.
void PlaceByRow(QWidget* widget, const TControlRow& row);

// Creates the control of row (a Label, Image, Button, Edit, PasswordEdit,
// ComboBox, CheckBox or Memo) as a child of parent, named, placed and filled as
// the row says:
// - a label starts at the row's place and takes the size of its text;
// - an image shows the row's picture from the windows' pictures;
// - a button is the dialog's default or cancel button as the row says; any
//   other button is never pressed by Enter (no auto-default);
// - a password box shows "*" (UsePasswordCharacter);
// - a combo box lists the row's entries, takes typing unless ListOnly and then
//   never inserts what is typed; its first entry is current;
// - a memo is disabled where the row says.
// Raises std::out_of_range for a kind it does not create.
QWidget* PlaceControl(QWidget* parent, const TControlRow& row);

// PlaceControl for the control named name of form, as the Qt type W (QLabel
// for labels and images, QPushButton, QLineEdit, QComboBox, QCheckBox,
// QPlainTextEdit).
template <typename W>
W* Place(QWidget* parent, const TFormRow& form, const char* name) {
  return static_cast<W*>(PlaceControl(parent, ControlRow(form, name)));
}

// Puts the style's OK and Cancel pictures on a dialog's two buttons.
void UseDialogGlyphs(QPushButton* ok, QPushButton* cancel);

// Orders the tab stops of window's children by the rows' TabOrder.
// REQUIRES: every tab stop of form is a child of window named as its row.
void SetTabOrderByTable(QWidget* window, const TFormRow& form);

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

// ShowMessageBox with the text, caption and icon of the message row name
// (MessageRow); a row without a caption takes the application's title.
QMessageBox::StandardButton ShowTableMessage(QWidget* parent, const char* name);

// The standard error box: text with the error icon, captioned with the
// application's title.
void ShowErrorBox(const QString& text);

// Runs action. An exception escaping it is shown in the standard error box
// (its message, code page 936) and swallowed. Answers true when action ran
// to its end.
bool RunGuarded(const std::function<void()>& action);

#endif  // VELIO_GUI_GUICOMMONUNIT_H_
