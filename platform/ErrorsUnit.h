// ErrorsUnit: the system's error classes.
//
// Errors are C++ exceptions carrying the exact message text, 8-bit text in code
// page 936 (most of the system's error messages are ASCII). Whoever shows or
// prints a message converts it at its own edge.
#ifndef VELIO_PLATFORM_ERRORSUNIT_H_
#define VELIO_PLATFORM_ERRORSUNIT_H_

#include <stdexcept>
#include <string>

#include "platform/CodePageUnit.h"

// Base of every error the system raises on purpose.
class EVelioError : public std::runtime_error {
 public:
  explicit EVelioError(const AnsiString& message) : std::runtime_error(message) {}
};

// A text that does not convert to a number or date-time.
class EConvertError : public EVelioError {
 public:
  using EVelioError::EVelioError;
};

// A file that cannot be written ("Unable to write to %s").
class EInOutError : public EVelioError {
 public:
  using EVelioError::EVelioError;
};

// "Unable to read %s" and "Unable to write to %s" for a file (a UTF-8 path, as
// every path inside the system); the message carries the path in code page 936.
[[noreturn]] void CannotRead(const std::string& fileName);
[[noreturn]] void CannotWrite(const std::string& fileName);

// A socket error of the request server.
class ESocketError : public EVelioError {
 public:
  using EVelioError::EVelioError;
};

#endif  // VELIO_PLATFORM_ERRORSUNIT_H_
