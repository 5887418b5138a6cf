// Every window against its rows of the form table: caption, client size,
// font, and each control's kind, text, place, role and tab order, the menus'
// and tool bar's entries in order.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <memory>
#include <string>

#include "GuiTestSupport.h"
#include "app/AboutFormUnit.h"
#include "app/ChangePasswordFormUnit.h"
#include "app/CheckPasswordFormUnit.h"
#include "app/MainFormUnit.h"
#include "doorlock/DoorlockTestFormUnit.h"
#include "forms/FormTableUnit.h"
#include "member/MemberTestFormUnit.h"
#include "member/OptionFormUnit.h"
#include "tests/TestRowNames.h"

namespace {

// The windows whose caption, and the controls whose text, the window sets
// when it opens (by interface mode, options or clock): their own tests check
// those.
bool CaptionSetOnOpening(std::string_view form) {
  return form == "TMainForm" || form == "TAboutForm";
}
bool TextSetOnOpening(std::string_view form, std::string_view control) {
  return (form == "TAboutForm" && control.starts_with("lbl")) ||
         (form == "TDoorlockTestForm" && control.ends_with("DateTimeTxt"));
}

std::unique_ptr<QWidget> OpenWindow(std::string_view name) {
  if (name == "TMainForm") return std::make_unique<TMainForm>();
  if (name == "TCheckPasswordForm") return std::make_unique<TCheckPasswordForm>();
  if (name == "TChangePasswordForm") return std::make_unique<TChangePasswordForm>();
  if (name == "TAboutForm") return std::make_unique<TAboutForm>();
  if (name == "TOptionForm") return std::make_unique<TOptionForm>();
  if (name == "TMemberTestForm") return std::make_unique<TMemberTestForm>();
  if (name == "TDoorlockTestForm") return std::make_unique<TDoorlockTestForm>();
  return nullptr;
}

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

// The place of a widget in the window's client area (below a main window's
// menu bar).
QRect ClientPlace(QWidget* window, QWidget* widget) {
  QWidget* origin = window;
  if (auto* main = qobject_cast<QMainWindow*>(window)) origin = main->centralWidget();
  return QRect(widget->mapTo(window, QPoint()) - origin->mapTo(window, QPoint()), widget->size());
}

// The next tab stop after widget: the next widget in the focus chain that
// takes focus and is no part of widget itself.
QWidget* NextTabStop(QWidget* widget) {
  QWidget* next = widget->nextInFocusChain();
  while (next && next != widget &&
         (next->focusPolicy() == Qt::NoFocus || widget->isAncestorOf(next)))
    next = next->nextInFocusChain();
  return next;
}

void CheckWidget(QWidget* window, const TControlRow& row, std::string_view form) {
  auto* widget = window->findChild<QWidget*>(QString::fromLatin1(row.Name));
  ASSERT_NE(widget, nullptr);
  const QString text = Text(row.Text);
  const bool textChecked = !TextSetOnOpening(form, row.Name);
  const QRect place = ClientPlace(window, widget);
  if (row.Width > 0) {
    EXPECT_EQ(place, QRect(row.Left, row.Top, row.Width, row.Height));
  } else {
    EXPECT_EQ(place.topLeft(), QPoint(row.Left, row.Top));
  }
  switch (row.Kind) {
    case TControlKind::Label: {
      auto* label = qobject_cast<QLabel*>(widget);
      ASSERT_NE(label, nullptr);
      if (textChecked) {
        EXPECT_EQ(label->text(), text);
      }
      break;
    }
    case TControlKind::Image: {
      auto* image = qobject_cast<QLabel*>(widget);
      ASSERT_NE(image, nullptr);
      EXPECT_FALSE(image->pixmap().isNull()) << row.Image;
      break;
    }
    case TControlKind::Button: {
      auto* button = qobject_cast<QPushButton*>(widget);
      ASSERT_NE(button, nullptr);
      EXPECT_EQ(button->text(), text);
      EXPECT_EQ(button->isDefault(), row.Default);
      // Only the default and cancel buttons take Enter when they have the focus.
      EXPECT_EQ(button->autoDefault(), row.Default || row.Cancel);
      break;
    }
    case TControlKind::Edit:
    case TControlKind::PasswordEdit: {
      auto* edit = qobject_cast<QLineEdit*>(widget);
      ASSERT_NE(edit, nullptr);
      if (textChecked) {
        EXPECT_EQ(edit->text(), text);
      }
      EXPECT_EQ(edit->echoMode() == QLineEdit::Password, row.Kind == TControlKind::PasswordEdit);
      break;
    }
    case TControlKind::ComboBox: {
      auto* combo = qobject_cast<QComboBox*>(widget);
      ASSERT_NE(combo, nullptr);
      EXPECT_EQ(combo->isEditable(), !row.ListOnly);
      const auto items = ComboItems(row);
      ASSERT_EQ(combo->count(), static_cast<int>(items.size()));
      for (int i = 0; i < combo->count(); ++i)
        EXPECT_EQ(combo->itemText(i).toStdString(), items[static_cast<size_t>(i)]);
      if (*row.Text) {
        EXPECT_EQ(combo->currentText(), text);
      }
      break;
    }
    case TControlKind::CheckBox: {
      auto* box = qobject_cast<QCheckBox*>(widget);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text(), text);
      EXPECT_FALSE(box->isChecked());
      break;
    }
    case TControlKind::Memo:
      ASSERT_NE(qobject_cast<QPlainTextEdit*>(widget), nullptr);
      EXPECT_EQ(widget->isEnabled(), !row.Disabled);
      break;
    case TControlKind::ToolBar:
      EXPECT_NE(qobject_cast<QToolBar*>(widget), nullptr);
      break;
    case TControlKind::StatusBar:
      EXPECT_NE(qobject_cast<QStatusBar*>(widget), nullptr);
      break;
    default:
      ADD_FAILURE() << "no widget kind for this row";
  }
}

// The menu bar's menus and the tool bar's buttons, in the rows' order.
void CheckMenusAndToolBar(QMainWindow* window, const TFormRow& form) {
  QStringList menus, toolBar;
  QStringList menusWanted, toolBarWanted;
  for (QAction* entry : window->menuBar()->actions()) {
    menus << entry->text();
    for (QAction* item : entry->menu()->actions()) {
      menus << (item->isSeparator() ? QStringLiteral("-") : item->text());
      if (!item->isSeparator()) {
        EXPECT_FALSE(item->objectName().isEmpty());
      }
    }
  }
  auto* bar = window->findChild<QToolBar*>();
  ASSERT_NE(bar, nullptr);
  for (QAction* entry : bar->actions()) {
    if (entry->isSeparator()) {
      toolBar << QStringLiteral("-");
      continue;
    }
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(entry));
    ASSERT_NE(button, nullptr);
    toolBar << button->objectName() + ":" + button->text() + ":" + entry->objectName();
  }
  for (const TControlRow& row : form.Controls) {
    if (row.Kind == TControlKind::Menu || row.Kind == TControlKind::MenuItem) {
      menusWanted << Text(row.Text);
      if (row.Kind == TControlKind::MenuItem && !IsSeparator(row)) {
        auto* action = window->findChild<QAction*>(QString::fromLatin1(row.Name));
        ASSERT_NE(action, nullptr) << row.Name;
        EXPECT_EQ(action->shortcut().toString(), QString::fromLatin1(row.Shortcut)) << row.Name;
        EXPECT_EQ(action->icon().isNull(), !*row.Image) << row.Name;
      }
    } else if (row.Kind == TControlKind::ToolButton) {
      toolBarWanted << (IsSeparator(row) ? QStringLiteral("-")
                                         : QString::fromLatin1(row.Name) + ":" + Text(row.Text) +
                                               ":" + QString::fromLatin1(row.Action));
    }
  }
  EXPECT_EQ(menus, menusWanted);
  EXPECT_EQ(toolBar, toolBarWanted);
}

class FormTableTest : public TGuiTest, public testing::WithParamInterface<const char*> {};

TEST_P(FormTableTest, WindowShowsItsRows) {
  const TFormRow& form = FormRow(GetParam());
  std::unique_ptr<QWidget> window = OpenWindow(form.Name);
  ASSERT_NE(window, nullptr) << "a window of the table that no test opens";
  if (!CaptionSetOnOpening(form.Name)) {
    EXPECT_EQ(window->windowTitle(), Text(form.Caption));
  }
  QSize client = window->size();
  if (auto* main = qobject_cast<QMainWindow*>(window.get())) {
    client = main->centralWidget()->size() + QSize(0, main->statusBar()->height());
  }
  EXPECT_EQ(client, QSize(form.Width, form.Height));
  if (form.Font == TFormFont::Dialog) {
    EXPECT_EQ(window->font().pixelSize(), 12);
  } else {
    EXPECT_EQ(window->font().pointSize(), 8);
  }

  for (const TControlRow& row : form.Controls) {
    SCOPED_TRACE(row.Name);
    if (row.Kind == TControlKind::Menu || row.Kind == TControlKind::MenuItem ||
        row.Kind == TControlKind::ToolButton)
      continue;  // checked in order below
    CheckWidget(window.get(), row, form.Name);
  }
  if (auto* main = qobject_cast<QMainWindow*>(window.get())) CheckMenusAndToolBar(main, form);

  std::vector<const TControlRow*> stops;
  for (const TControlRow& row : form.Controls) {
    if (row.TabOrder >= 0) stops.push_back(&row);
  }
  std::sort(stops.begin(), stops.end(),
            [](const TControlRow* a, const TControlRow* b) { return a->TabOrder < b->TabOrder; });
  for (size_t i = 0; i + 1 < stops.size(); ++i) {
    auto* widget = window->findChild<QWidget*>(QString::fromLatin1(stops[i]->Name));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(NextTabStop(widget)->objectName().toStdString(), stops[i + 1]->Name);
  }

  // The cancel button closes a dialog as cancelled.
  for (const TControlRow& row : form.Controls) {
    if (!row.Cancel) continue;
    auto* dialog = qobject_cast<QDialog*>(window.get());
    ASSERT_NE(dialog, nullptr);
    dialog->show();
    window->findChild<QPushButton*>(QString::fromLatin1(row.Name))->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
  }
}

std::vector<const char*> FormNames() {
  std::vector<const char*> names;
  for (const TFormRow& form : FormTable()) names.push_back(form.Name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Windows, FormTableTest, testing::ValuesIn(FormNames()),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return velio_test::TestNameText(info.param);
                         });

}  // namespace
