// GuiHooksUnit: the GUI's hooks.
#include "app/GuiHooksUnit.h"

#include <QApplication>
#include <QThread>

#include "member/OptionFormUnit.h"

void TGuiHooks::ProcessMessages() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app && QThread::currentThread() == app->thread()) QCoreApplication::processEvents();
}

void TGuiHooks::ShowMemberOptions() {
  ShowMemberOptionsDialog();
}

void TGuiHooks::ShowMessage(const AnsiString& text) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return;
  ShowMessageBox(QApplication::activeWindow(), FromAnsi(text), ApplicationTitle(),
                 QMessageBox::NoIcon);
}
