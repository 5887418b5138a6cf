// WinFormUnit: a window built from its row of the form table.
//
// TWinForm creates a top-level window with the row's caption, client size and
// font, centred on the screen, and one child control per control row (buttons,
// labels, edits, password boxes showing "*", selection boxes with their
// entries, check boxes, memos, pictures) at the row's place, greyed where the
// row says so, created in tab order so that Tab walks the rows' TabOrder. A
// label of width 0 takes the size of its text. The main window's menus, tool
// bar and status bar are the derived class's (BuildSpecial). Enter presses the
// default button, Esc the cancel button; the close box and Alt+F4 ask
// CloseQuery. ShowModal disables the owner and runs the form's own message loop
// until EndModal, or until a stop is requested (StopRequested), which ends it
// as cancelled.
//
// With the environment variable VELIO_FORM_DUMP naming a file, every form
// appends, when it is shown and again when its loop ends, a line with its name,
// caption, client size and "shown" or "closed", then a line with each control's
// name, text (a picture: its file name once loaded) and place (menus, menu
// items and tool buttons: "-") (UTF-8, tab-separated) to that file: the tests compare them with the table and read
// the results of the buttons there. With VELIO_SCREENSHOT_DIR naming a folder,
// every form saves its picture there half a second after it is shown
// (windows-<form>.bmp).
//
// GUI thread only.
#ifndef VELIO_WIN_WINFORMUNIT_H_
#define VELIO_WIN_WINFORMUNIT_H_

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "forms/FormTableUnit.h"

class TWinForm {
 public:
  // Keeps what Create needs. owner: the window disabled while this one runs
  // modally (null for none). mainWindow: a main window's frame (minimise
  // box, a menu bar above the client area) instead of a dialog's.
  TWinForm(const TFormRow& row, HWND owner, bool mainWindow = false);
  virtual ~TWinForm();
  TWinForm(const TWinForm&) = delete;
  TWinForm& operator=(const TWinForm&) = delete;

  // Creates the window and its controls (hidden); the derived constructor
  // calls it first, so that BuildSpecial is its own.
  void Create();

  HWND Handle() const { return handle_; }
  const TFormRow& Row() const { return row_; }
  // The child control of the named row; throws on a name the form lacks.
  HWND Control(std::string_view name) const;
  std::wstring Text(std::string_view name) const;
  void SetText(std::string_view name, const std::wstring& text);
  bool Checked(std::string_view name) const;
  // The selected item of a selection box, -1 for none; selecting -1 clears it.
  int ItemIndex(std::string_view name) const;
  void SetItemIndex(std::string_view name, int index);
  void SetCaption(const std::wstring& caption);
  // Focuses the named control (before ShowModal: the one focused first).
  void Focus(std::string_view name);

  // Shows the window and runs its loop until EndModal or a stop request;
  // answers EndModal's result (IDCANCEL on a stop).
  int ShowModal();
  void EndModal(int result);
  bool Running() const { return running_; }

 protected:
  // A button, check box or menu item of the named row was pressed (a tool
  // button passes its Action, the menu item it stands for). The default does
  // nothing.
  virtual void Click(std::string_view name);
  // The close box, Alt+F4 or Esc without a cancel button: true to close
  // (EndModal(IDCANCEL)). The default answers true.
  virtual bool CloseQuery();
  // Messages the derived form handles first; answer true when handled
  // (result set). The default handles none.
  virtual bool Message(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // Creates the child of a control row of kind ToolBar, StatusBar, Menu or
  // MenuItem, ToolButton (the main window's); the default creates nothing.
  virtual void BuildSpecial(const TControlRow& row);
  // The row of a control id (the child's id, or a menu item's), null for none.
  const TControlRow* RowOfId(int id) const;
  // The id of a control row (its index in the row's controls, plus 100).
  int IdOf(const TControlRow& row) const;
  // Writes the form's dump (see above) when VELIO_FORM_DUMP is set; when
  // ("shown", "closed") ends the form's own line.
  void Dump(const char* when) const;

  HMENU menu_ = nullptr;           // the menu bar BuildSpecial made, if any
  HACCEL accelerators_ = nullptr;  // translated in the loop when set

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Build();
  void Command(int id);

  const TFormRow& row_;
  HWND owner_;
  HFONT font_;
  bool mainWindow_;
  HWND handle_ = nullptr;
  std::vector<HWND> controls_;   // by row index; null where the row has no child
  HWND initialFocus_ = nullptr;  // Focus before ShowModal
  bool running_ = false;
  int result_ = IDCANCEL;
};

// The window's text (a caption, a control's text).
std::wstring WindowText(HWND window);

// The program's resource of a picture of the table ("key32.png": the icon
// KEY32; "about.jpg": the bitmap ABOUTJPG); icon tells which.
std::wstring PictureResource(std::string_view file, bool& icon);

#endif  // VELIO_WIN_WINFORMUNIT_H_
