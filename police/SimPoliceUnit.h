// SimPoliceUnit: a simulated police data source.
//
// TSimPolice reads the current guest from the profile file Guest.ini, section
// Guest, one key per TGuest field (RoomNo, EnterTime, LeaveTime, IdCardNo,
// Name, Nationality, GenderID, Remark, CountryCode, ProvinceCode, Address,
// Birthday; a missing key is empty text). The file is read afresh at every
// call; no file, or no Guest section, means no current guest. A file that
// exists but cannot be read (permissions, descriptors exhausted) makes
// ReadGuest raise EInOutError, never answer "no guest".
//
// Thread-safe: ReadGuest may be called from several threads at once; each
// call hands out its own record.
#ifndef VELIO_POLICE_SIMPOLICEUNIT_H_
#define VELIO_POLICE_SIMPOLICEUNIT_H_

#include <memory>
#include <string>

#include "police/BasePoliceUnit.h"

class TSimPolice : public TBasePolice {
 public:
  // The guest file is homeDir + "Guest.ini"; nothing is read yet.
  explicit TSimPolice(const std::string& homeDir);

  // Shows the guest file's path.
  void ShowOptions() override;
  // The guest of the file, or null when there is none. Raises EInOutError
  // when the file exists but cannot be read.
  std::shared_ptr<const TGuest> ReadGuest() override;

  const std::string& FileName() const { return fileName_; }

 private:
  const std::string fileName_;
};

// Creates a TSimPolice for HomeDir(), sets it as PoliceDevice and logs
// "模拟公安数据源: " + the guest file's path.
void InstallSimulatedPolice();
// Clears PoliceDevice and frees the simulated source. REQUIRES: no request is
// being served.
void UninstallSimulatedPolice();

#endif  // VELIO_POLICE_SIMPOLICEUNIT_H_
