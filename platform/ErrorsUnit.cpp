// ErrorsUnit: the system's error classes and the file errors' messages.
#include "platform/ErrorsUnit.h"

void CannotRead(const std::string& fileName) {
  throw EInOutError("Unable to read " + Utf8ToAnsi(fileName));
}

void CannotWrite(const std::string& fileName) {
  throw EInOutError("Unable to write to " + Utf8ToAnsi(fileName));
}
