// ReaderCodesUnit: what a reader library's status code means, written one way.
//
// The simulator (sim/ReaderSimCodes.h) and the PC/SC library
// (pcsc/ReaderPcscCodes.h) answer the same number for the same failure, so
// one table serves both: 0x00 to 0x15 mean the same in both, 0x16 and 0x17
// are the simulator's card file, 0x20 to 0x24 the PC/SC service, reader and
// card. Beyond the table, the PC/SC library answers a PC/SC error as itself
// (0x8010xxxx) and a status word from the reader as step + SW1 SW2 (step
// 0x0001xxxx to 0x0004xxxx).
//
// ReaderCodeText writes a code as "0x00000010 (16): no card on the reader":
// eight hexadecimal digits, the unsigned decimal value and the meaning. A code
// no table knows still gets the first two parts and "unknown code". This is
// what --verbose, the self-check and velio-readers show; the daily log keeps
// its own fixed texts.
//
// Header only, on the standard library alone, so that the tools that link
// nothing of the core can use it.
#ifndef VELIO_PLATFORM_READERCODESUNIT_H_
#define VELIO_PLATFORM_READERCODESUNIT_H_

#include <cstdint>
#include <cstdio>
#include <string>

// "No card on the reader": the one code the self-check takes as a warning.
inline constexpr int32_t kReaderNoCard = 0x10;

// The meaning of a reader status code, without the number ("no card on the
// reader"); "unknown code" for a code outside the tables.
inline std::string ReaderCodeMeaning(int32_t code) {
  const uint32_t value = static_cast<uint32_t>(code);
  switch (value) {
    case 0x00:
      return "success";
    case 0x01:
      return "port number outside -1..9";
    case 0x02:
      return "start parameter missing or not 4113";
    case 0x03:
      return "port not open";
    case 0x04:
      return "null key or block, or length not 16";
    case 0x10:
      return "no card on the reader";
    case 0x11:
      return "sector or block not on the card";
    case 0x12:
      return "key mode not key A (4) or key B (5)";
    case 0x13:
      return "authentication failed: wrong key for the sector";
    case 0x14:
      return "block is a sector trailer, never written";
    case 0x15:
      return "sector 0 block 0 is read-only";
    case 0x16:
      return "card file is not a 4096-byte image";
    case 0x17:
      return "card file cannot be read, locked or replaced";
    case 0x20:
      return "PC/SC service not running or not reachable";
    case 0x21:
      return "no reader at that port";
    case 0x22:
      return "card is not a MIFARE Classic 1K or 4K";
    case 0x23:
      return "another program holds the reader exclusively";
    case 0x24:
      return "short or malformed answer from the reader";
    default:
      break;
  }
  if ((value & 0xFFFF0000u) == 0x80100000u) {
    switch (value) {
      case 0x80100069u:
        return "PC/SC error: the card was removed";
      case 0x80100066u:
        return "PC/SC error: the card does not respond";
      case 0x80100068u:
        return "PC/SC error: the card was reset";
      case 0x8010000Bu:
        return "PC/SC error: sharing violation";
      case 0x8010000Cu:
        return "PC/SC error: no card";
      case 0x8010002Eu:
        return "PC/SC error: no reader";
      case 0x8010001Du:
        return "PC/SC error: service not running";
      default:
        return "PC/SC error";
    }
  }
  const uint32_t step = value & 0xFFFF0000u;
  if (step >= 0x00010000u && step <= 0x00040000u) {
    static const char* const kSteps[] = {"loading the key", "authenticating", "reading the block",
                                         "writing the block"};
    char sw[8];
    std::snprintf(sw, sizeof sw, "%02X %02X", static_cast<unsigned>((value >> 8) & 0xFF),
                  static_cast<unsigned>(value & 0xFF));
    return std::string("status word ") + sw + " while " + kSteps[(step >> 16) - 1];
  }
  return "unknown code";
}

// "0x00000010 (16): no card on the reader".
inline std::string ReaderCodeText(int32_t code) {
  const uint32_t value = static_cast<uint32_t>(code);
  char buf[40];
  std::snprintf(buf, sizeof buf, "0x%08X (%u): ", static_cast<unsigned>(value),
                static_cast<unsigned>(value));
  return buf + ReaderCodeMeaning(code);
}

#endif  // VELIO_PLATFORM_READERCODESUNIT_H_
