// OptionUnit: the member card options (section MemberOption of Option.ini).
//
// TOption holds the reader port, the card sector and block of the member data,
// the sector key (12 hexadecimal digits) and which key it is. The process-wide
// MemberOptions is loaded at start-up; the options dialog changes it on the GUI
// thread while card operations on connection threads read it.
//
// TOption has internal synchronization and may be safely accessed
// concurrently: every getter returns a copy, Settings() a consistent snapshot.
#ifndef VELIO_MEMBER_OPTIONUNIT_H_
#define VELIO_MEMBER_OPTIONUNIT_H_

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/CodePageUnit.h"

struct TMemberSettings {
  AnsiString PortName;
  int32_t Sector = 0;
  int32_t Block = 0;
  AnsiString Key;
  AnsiString KeyFlag;
};

class TOption {
 public:
  // Stores FileName; reads nothing.
  explicit TOption(std::string fileName);
  TOption(const TOption&) = delete;
  TOption& operator=(const TOption&) = delete;

  // Reads the five keys, each with its default ("COM1", 4, 0, "7D2A9C41E6B3", "KEY_A");
  // a file that exists but cannot be read gives every default.
  void Load();
  // Writes PortName, Sector, Block, Key, KeyFlag (in that order) to the section;
  // other sections stay as they are. Raises EInOutError "Unable to write to %s".
  void Save();

  // The reader port number of PortName: "USB" -1, "COM0".."COM9" 0..9 (exact,
  // case-sensitive); no value for any other name.
  std::optional<int32_t> PortNumber() const;
  static std::optional<int32_t> PortNumberOf(const AnsiString& portName);

  TMemberSettings Settings() const;
  AnsiString PortName() const;
  int32_t Sector() const;
  int32_t Block() const;
  AnsiString Key() const;
  AnsiString KeyFlag() const;
  void SetPortName(const AnsiString& v);
  void SetSector(int32_t v);
  void SetBlock(int32_t v);
  void SetKey(const AnsiString& v);
  void SetKeyFlag(const AnsiString& v);

  const std::string FileName;

 private:
  mutable std::mutex lock_;
  TMemberSettings s_;
};

// The options dialog's boxes (code page 936 text): what they show when it
// opens, what they hold when "确定" is pressed.
struct TMemberOptionInput {
  AnsiString PortName;  // empty when no port is selected
  AnsiString Block;
  AnsiString Sector;
  AnsiString Key;
  AnsiString KeyFlag;
};

// Assigns input to options in the dialog's order, converting Block and then
// Sector with StrToInt, then saves. Raises EConvertError at the first value
// that is no integer (the fields before it stay assigned, nothing is saved)
// and EInOutError when the save fails.
void ApplyMemberOptionInput(TOption& options, const TMemberOptionInput& input);

// The boxes' texts for settings: PortName the port box's entry (FormTable)
// that equals settings.PortName without regard to letter case, empty when no
// entry does (nothing selected); Block and Sector in decimal; Key and KeyFlag
// as they are.
TMemberOptionInput MemberOptionInputOf(const TMemberSettings& settings);

// The process-wide member options; null before start-up.
extern TOption* MemberOptions;

// Start-up: creates MemberOptions for HomeDir() + "Option.ini" and loads it.
// REQUIRES: MemberOptions is null (called once, before any other thread runs).
void InitMemberOptions();
// Shut-down: frees MemberOptions and sets it to null. REQUIRES: no card
// operation and no options dialog is running.
void FinalizeMemberOptions();

#endif  // VELIO_MEMBER_OPTIONUNIT_H_
