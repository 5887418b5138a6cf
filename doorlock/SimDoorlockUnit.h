// SimDoorlockUnit: a simulated door-lock card encoder.
//
// TSimDoorlock keeps the encoder's state in the profile file DoorlockSim.ini,
// section Encoder: NextCardNo (the number the next issued card gets, default
// 1000), CardNo (the card lying on the encoder, 0 for none) and Fail (non-zero
// makes every card operation answer false). The state is read afresh from the
// file at every call, so a test or an operator can change it while the program
// runs. IssueCard also records what it wrote in section Card (RegisterId,
// BuildingCode, FloorCode, RoomNo, GuestName, StartTime, EndTime, IsCopy).
//
// Thread-safe: calls on one instance run one at a time.
#ifndef VELIO_DOORLOCK_SIMDOORLOCKUNIT_H_
#define VELIO_DOORLOCK_SIMDOORLOCKUNIT_H_

#include <mutex>
#include <string>

#include "doorlock/BaseDoorlockUnit.h"

class TSimDoorlock : public TBaseDoorlock {
 public:
  // The state file is homeDir + "DoorlockSim.ini"; nothing is read yet.
  explicit TSimDoorlock(const std::string& homeDir);

  // Shows the state file's path.
  void ShowOptions() override;
  // Succeed and do nothing.
  void OpenPort() override;
  void Beep() override;
  void ClosePort() override;
  // Gives the card NextCardNo: sets CardNo, stores it as the card on the
  // encoder and advances NextCardNo. False when failing or when the file cannot
  // be read or written, or holds no line for a text with a line break (the
  // reason is logged).
  bool IssueCard(const AnsiString& RegisterId, const AnsiString& BuildingCode,
                 const AnsiString& FloorCode, const AnsiString& RoomNo, const AnsiString& GuestName,
                 TDateTime StartTime, TDateTime StartTime2, TDateTime EndTime, TDateTime EndTime2,
                 bool IsCopy, int64_t& CardNo) override;
  // The number of the card on the encoder; false when there is none, when
  // failing, or when the file cannot be read (logged).
  bool ReadCard(int64_t& CardNo) override;
  // Takes the card off the encoder; false when there is none or failing.
  bool EraseCard() override;

  const std::string& FileName() const { return fileName_; }

 private:
  bool Failing() const;
  int64_t ReadNumber(const char* key, int64_t def) const;
  void WriteValue(const char* section, const char* key, const AnsiString& value);

  const std::string fileName_;
  std::mutex lock_;
};

// Creates a TSimDoorlock for HomeDir(), installs it as DoorlockDevice and logs
// "模拟门锁发卡器: " + the state file's path.
void InstallSimulatedDoorlock();
// Uninstalls and frees the installed door-lock device.
void UninstallSimulatedDoorlock();

#endif  // VELIO_DOORLOCK_SIMDOORLOCKUNIT_H_
