// AdminPasswordUnit: checking and changing the administrator password.
//
// The administrator password is SystemOptions->Password, kept in plain text in
// Option.ini. The password prompt and the change dialog only collect the typed
// text; what is compared and stored is decided here, without any window.
// GUI thread only: nothing else writes Password and no connection thread reads it.
#ifndef VELIO_APP_ADMINPASSWORDUNIT_H_
#define VELIO_APP_ADMINPASSWORDUNIT_H_

#include <string_view>

#include "platform/CodePageUnit.h"
#include "platform/ConvertUnit.h"  // TrimBlanks

// True when typed, trimmed, equals the stored password byte for byte (letter
// case counts; the stored password is not trimmed).
// REQUIRES: SystemOptions exists.
bool IsAdminPassword(const AnsiString& typed);

// Trims both entries; when they differ answers false and changes nothing.
// Otherwise stores the trimmed password (in effect at once) and saves the
// system options, then answers true. A failing save raises EInOutError
// ("Unable to write to ..."); the new password stays in effect in memory.
// REQUIRES: SystemOptions exists.
bool ChangeAdminPassword(const AnsiString& password, const AnsiString& confirmation);

#endif  // VELIO_APP_ADMINPASSWORDUNIT_H_
