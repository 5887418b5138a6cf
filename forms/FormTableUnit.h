// FormTableUnit: every window's caption, size and controls, in one table.
//
// One row per window and one row per control: its name (the form's member of
// the same name), kind, text, place, tab order, default and cancel roles,
// menu or tool bar it belongs to, picture and list entries. Every front end
// builds its windows from these rows and its tests read them back, so the
// windows of all front ends show the same texts at the same places. The
// message boxes the windows show have their texts and captions in a second
// table here.
//
// Texts are UTF-8. The rows are constant data: any thread may read them.
#ifndef VELIO_FORMS_FORMTABLEUNIT_H_
#define VELIO_FORMS_FORMTABLEUNIT_H_

#include <span>
#include <string_view>
#include <vector>

enum class TControlKind {
  Form,
  Button,
  Label,
  Edit,
  PasswordEdit,
  ComboBox,
  CheckBox,
  Memo,
  ToolBar,
  ToolButton,
  StatusBar,
  Menu,
  MenuItem,
  Image
};

// The two fonts of the windows: "MS Sans Serif" 8 pt (the main window and the
// test windows) and "宋体" at 12 pixels (the dialogs).
enum class TFormFont { Window, Dialog };

struct TControlRow {
  const char* Name;  // the control's name as the form's member (OKBtn, PortNameCmb ...)
  TControlKind Kind;
  const char* Text;  // UTF-8 caption or initial text; "" where none; "-" for a separator
  // Client coordinates. A Label's Width and Height are 0: it takes the size
  // of its text. Menus, menu items and tool buttons are laid out by the
  // toolkit (all 0).
  int Left, Top, Width, Height;
  int TabOrder;          // -1 where not a tab stop
  bool Default, Cancel;  // the dialog's default (Enter) / cancel (Esc) button
  const char* Shortcut;  // e.g. "Ctrl+O"; "" where none (menu accelerators are "&" in Text)
  const char* Parent;    // the Menu a MenuItem or the ToolBar a ToolButton belongs to; "" otherwise
  // The picture's file name among the program's pictures ("option.png"); ""
  // where none.
  const char* Image = "";
  // A ToolButton's MenuItem: the button runs that item's action and shows its
  // text; "" otherwise.
  const char* Action = "";
  // A ComboBox's entries, each ended by '\n'; "" otherwise.
  const char* Items = "";
  // A ComboBox that only selects among Items (no typing).
  bool ListOnly = false;
  // Greyed and not editable.
  bool Disabled = false;
};

struct TFormRow {
  const char* Name;  // TMainForm, TOptionForm, TMemberTestForm, TDoorlockTestForm,
                     // TCheckPasswordForm, TChangePasswordForm, TAboutForm
  // UTF-8 design caption. The main window's is "": its caption is the mode's
  // title (TitleForMode); the about box's is replaced when it opens.
  const char* Caption;
  int Width, Height;  // client size (the main window's below its menu bar)
  std::span<const TControlRow> Controls;
  TFormFont Font = TFormFont::Dialog;
};

// Every window, the main window first.
std::span<const TFormRow> FormTable();
// The window named formName. Raises std::out_of_range for an unknown name.
const TFormRow& FormRow(std::string_view formName);
// The control named name on form. Raises std::out_of_range for an unknown name.
const TControlRow& ControlRow(const TFormRow& form, std::string_view name);

// True for a menu's or tool bar's separator row (Text "-").
bool IsSeparator(const TControlRow& control);

// A control row's Items, one entry each, in order; empty for no Items.
std::vector<std::string_view> ComboItems(const TControlRow& control);

enum class TMessageIcon { None, Information, Critical };

struct TMessageRow {
  const char* Name;     // WrongPassword, PasswordMismatch, PasswordChanged, RestartToApply
  const char* Text;     // UTF-8
  const char* Caption;  // UTF-8; "" for the application's title
  TMessageIcon Icon;
};

// The message boxes the windows show with fixed texts.
std::span<const TMessageRow> MessageTable();
// The message named name. Raises std::out_of_range for an unknown name.
const TMessageRow& MessageRow(std::string_view name);

#endif  // VELIO_FORMS_FORMTABLEUNIT_H_
