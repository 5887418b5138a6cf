// velio-interface: the operator's desktop program.
//
//   velio-interface [--home DIR] [--mode member|doorlock|police] [--reader-library PATH]
//
// Start-up: the command line, the process-wide modules, the Qt application and
// the GUI hooks, the device session of the mode; then the main window runs
// modally until it closes (its loop is the program's only loop) or SIGINT,
// SIGTERM or SIGHUP closes it without the password prompt; then the session
// closes its device and the modules are finalised.
//
// With the environment variable VELIO_SCREENSHOT_DIR set, the program saves a
// picture of the main window and of every dialog and test window into that
// folder (Qt's own rendering of each window), then closes the main window
// through the real password prompt and ends. scripts/screenshots.sh uses it.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>

#include "app/AboutFormUnit.h"
#include "app/ChangePasswordFormUnit.h"
#include "app/CheckPasswordFormUnit.h"
#include "app/GuiHooksUnit.h"
#include "app/MainFormUnit.h"
#include "app/MainUnit.h"
#include "app/StartupUnit.h"
#include "doorlock/DoorlockTestFormUnit.h"
#include "member/MemberTestFormUnit.h"
#include "member/OptionFormUnit.h"
#include "services/InterfaceModeUnit.h"
#include "services/SysOptionUnit.h"

namespace {

bool SaveGrab(QWidget* window, const QString& dir, const QString& name) {
  window->show();
  QCoreApplication::processEvents();
  const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
  const bool ok = window->grab().save(path);
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "saved" : "could not save",
               path.toLocal8Bit().constData());
  return ok;
}

template <typename Form>
void GrabDialog(const QString& dir, const QString& name, QWidget* parent = nullptr) {
  Form form(parent);
  SaveGrab(&form, dir, name);
}

// Answers the password prompt with the stored password as soon as it opens.
void AnswerPasswordPrompt() {
  auto* prompt = qobject_cast<TCheckPasswordForm*>(QApplication::activeModalWidget());
  if (!prompt) {
    QTimer::singleShot(20, AnswerPasswordPrompt);
    return;
  }
  prompt->edtPswd->setText(FromAnsi(SystemOptions->Password));
  prompt->btnOK->click();
}

// Grabs every window of the program, then closes the main window.
void TakeScreenshots(const QString& dir) {
  auto* main = qobject_cast<TMainForm*>(QApplication::activeWindow());
  if (!main) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if ((main = qobject_cast<TMainForm*>(w))) break;
  }
  if (!main) return;
  QDir().mkpath(dir);
  const QString mode = QString::fromLatin1(ModeNameForMode(InterfaceMode.load()));
  SaveGrab(main, dir, QStringLiteral("main-") + mode);
  GrabDialog<TAboutForm>(dir, QStringLiteral("about-") + mode);
  if (InterfaceMode.load() == kModeMember) {
    GrabDialog<TCheckPasswordForm>(dir, QStringLiteral("check-password"), main);
    GrabDialog<TChangePasswordForm>(dir, QStringLiteral("change-password"), main);
    GrabDialog<TOptionForm>(dir, QStringLiteral("member-options"));
    GrabDialog<TMemberTestForm>(dir, QStringLiteral("member-test"));
  }
  if (InterfaceMode.load() == kModeDoorlock)
    GrabDialog<TDoorlockTestForm>(dir, QStringLiteral("doorlock-test"));
  QTimer::singleShot(0, AnswerPasswordPrompt);
  main->close();
}

}  // namespace

int main(int argc, char** argv) {
  TProgramOptions options;
  const int parsed = ParseProgramOptions(argc, argv, /*headless=*/false, options);
  if (parsed >= 0) return parsed;

#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);  // a peer that went away fails the write instead
  std::signal(SIGXFSZ, SIG_IGN);  // so does a full log file
#endif
  InitializeModules(options);
  int result = 0;
  {
    QApplication application(argc, argv);
    TGuiHooks hooks;
    SetUiHooks(&hooks);
    const QString screenshotDir = qEnvironmentVariable("VELIO_SCREENSHOT_DIR");
    if (!screenshotDir.isEmpty())
      QTimer::singleShot(300, [screenshotDir] { TakeScreenshots(screenshotDir); });
    try {
      TDeviceSession session(options.Mode, options.ReaderLibrary);
      RunMainWindow(application, session);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "velio-interface: %s\n", AnsiToUtf8(e.what()).c_str());
      result = 1;
    }
    SetUiHooks(nullptr);
  }
  FinalizeModules();
  if (ServerStopFailed()) {
    // Handler threads are still running: end without destroying anything.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(result);
  }
  return result;
}
