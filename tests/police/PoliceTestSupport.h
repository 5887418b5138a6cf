// PoliceTestSupport: what the police tests share: a fake guest source that
// counts its calls and answers as told.
#ifndef VELIO_TESTS_POLICE_POLICETESTSUPPORT_H_
#define VELIO_TESTS_POLICE_POLICETESTSUPPORT_H_

#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/CodePageUnit.h"
#include "police/BasePoliceUnit.h"

namespace police_test {

// Log entries or message texts, in code page 936.
using Entries = std::vector<AnsiString>;

class TFakePolice : public TBasePolice {
 public:
  void ShowOptions() override { ++shown; }
  std::shared_ptr<const TGuest> ReadGuest() override {
    ++reads;
    if (throwError) throw std::runtime_error("source offline");
    return guest;
  }
  std::shared_ptr<const TGuest> guest;  // null: no guest
  bool throwError = false;
  int shown = 0, reads = 0;
};

}  // namespace police_test

#endif  // VELIO_TESTS_POLICE_POLICETESTSUPPORT_H_
