// MainWindowUnit: the main window's server, close rule and mode dispatch.
#include "app/MainWindowUnit.h"

#include <memory>

#include "app/MainUnit.h"
#include "app/StartupUnit.h"
#include "doorlock/BaseDoorlockUnit.h"
#include "member/BaseMemberUnit.h"
#include "platform/PathUnit.h"
#include "platform/PortOwnerUnit.h"
#include "police/BasePoliceUnit.h"
#include "police/PoliceMessageHandlerUnit.h"
#include "server/TCPServerUnit.h"
#include "services/InterfaceModeUnit.h"

namespace {
// The serving window's claim of its port, so that --check knows it as this
// home's running server (GUI thread only: one main window at a time).
std::unique_ptr<TPortClaim> PortClaim;
}  // namespace

void StartInterfaceServer(TRequestServer& server, int32_t mode, const TMemoLineWriter& addLine) {
  server.SetPort(PortForMode(mode));
  addLine(StartLineForMode(mode));
  server.Activate();
  PortClaim = std::make_unique<TPortClaim>(server.Port(), HomeDir());
}

void StopInterfaceServer(TRequestServer& server, const TMemoLineWriter& addLine) {
  PortClaim.reset();
  try {
    server.Deactivate();
  } catch (...) {
    NoteServerStopFailed();
    throw;
  }
  addLine(StopLine());
}

TMainWindowCloseRule::TAnswer TMainWindowCloseRule::QueryClose(
    const std::function<bool()>& confirm) {
  bool canClose = stopping_;
  if (!canClose) canClose = confirm();
  // A stop that began while the prompt was open closes all the same.
  if (stopping_) canClose = true;
  if (closed_) return TAnswer::AlreadyClosed;
  if (!canClose) return TAnswer::Refuse;
  closed_ = true;
  return TAnswer::Close;
}

bool TMainWindowCloseRule::BeginStop() {
  stopping_ = true;
  return !closed_;
}

void ShowModeDeviceOptions(int32_t mode) {
  switch (mode) {
    case kModeDoorlock:
      if (TBaseDoorlock* device = DoorlockDevice.load()) device->ShowOptions();
      break;
    case kModePolice:
      if (TBasePolice* device = PoliceDevice.load()) device->ShowOptions();
      break;
    case kModeMember:
      if (TBaseMember* device = MemberDevice.load()) device->ShowOptions();
      break;
    default:
      break;
  }
}

TTestWindow TestWindowForMode(int32_t mode) {
  switch (mode) {
    case kModeDoorlock:
      return DoorlockDevice.load() ? TTestWindow::Doorlock : TTestWindow::None;
    case kModePolice:
      return PoliceDevice.load() ? TTestWindow::PoliceGuest : TTestWindow::None;
    case kModeMember:
      return MemberDevice.load() ? TTestWindow::Member : TTestWindow::None;
    default:
      return TTestWindow::None;
  }
}

TAboutLines AboutLinesForMode(int32_t mode) {
  TAboutLines lines;
  lines.AppTitle = TitleForMode(mode);
  lines.Caption = Lit("关于 ") + lines.AppTitle;
  lines.Version = Lit("版本 1.0.0.0");
  lines.Copyright = Lit("版权所有 (C) 2009-2026 Tarvik");
  lines.Company = Lit("Tarvik 酒店软件有限公司");
  return lines;
}

AnsiString PoliceGuestText() {
  TBasePolice* device = PoliceDevice.load();
  if (!device) return AnsiString();
  std::shared_ptr<const TGuest> guest = device->ReadGuest();
  return guest ? BuildGuestText(*guest) : AnsiString();
}
