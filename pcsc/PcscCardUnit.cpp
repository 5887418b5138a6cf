// PcscCardUnit: command sequences of one block access and their codes.
//
// A block access is three or four commands on one connection: FF 82 loads the
// key into the reader's volatile key slot 0; FF 86 (General Authenticate)
// authenticates the block with that slot as key A (60) or key B (61), and when
// the reader answers that it does not know FF 86 (6D 00, 6E 00 or 6A 81) the
// older FF 88 form is sent instead; FF B0 reads or FF D6 writes the 16 bytes.
// A status word other than 90 00 ends the access with a code that names the
// step and the status word, except 63 00 on authentication, which is the
// wrong-key code the simulator answers too.
//
// Once the key has loaded, the access ends with a second FF 82 that loads six
// zero bytes into the same slot, whatever the access's outcome: the slot keeps
// its key until the reader loses power, and any other program that can talk to
// the reader could authenticate with what it holds. The outcome of that
// overwrite is not part of the access's answer: a reader that refuses it (or a
// card gone meanwhile) leaves the access's own code.
#include "pcsc/PcscCardUnit.h"

#include <cstdio>
#include <cstring>

#include "pcsc/ReaderPcscCodes.h"

namespace pcsc {

namespace {

constexpr uint8_t kKeySlot = 0x00;

// Sends command and splits off the status word. Answers 0, a PC/SC error, or
// READER_PCSC_ERR_RESPONSE for an answer shorter than a status word.
int32_t Send(TApduChannel& channel, const std::vector<uint8_t>& command, std::vector<uint8_t>& data,
             uint16_t& sw) {
  std::vector<uint8_t> response;
  const int32_t rc = channel.Transmit(command, response);
  if (rc != 0) return rc;
  if (response.size() < 2) return READER_PCSC_ERR_RESPONSE;
  sw = static_cast<uint16_t>(response[response.size() - 2] << 8 | response.back());
  data.assign(response.begin(), response.end() - 2);
  return 0;
}

int32_t StepCode(int32_t step, uint16_t sw) {
  return step + sw;
}

// Checks the arguments shared by read and write; sets absolute.
int32_t CheckAddress(int sectors, int32_t keyMode, int32_t sector, int32_t block,
                     uint8_t& absolute) {
  if (keyMode != VELIO_READER_KEY_A && keyMode != VELIO_READER_KEY_B)
    return READER_PCSC_ERR_KEY_MODE;
  if (!AbsoluteBlock(sectors, sector, block, absolute)) return READER_PCSC_ERR_ADDRESS;
  return READER_PCSC_OK;
}

// Sends FF 82 with key6 into kKeySlot; answers 0, a PC/SC error or the
// load-key step code.
int32_t LoadKey(TApduChannel& channel, const uint8_t* key6) {
  std::vector<uint8_t> data;
  uint16_t sw = 0;
  // Header and key laid out in one array (g++ 12 warns falsely on a vector
  // grown from a short initializer list).
  uint8_t loadBytes[5 + 6] = {0xFF, 0x82, 0x00, kKeySlot, 0x06};
  std::memcpy(loadBytes + 5, key6, 6);
  const std::vector<uint8_t> load(loadBytes, loadBytes + sizeof loadBytes);
  const int32_t rc = Send(channel, load, data, sw);
  if (rc != 0) return rc;
  if (sw != 0x9000) return StepCode(READER_PCSC_SW_LOAD_KEY, sw);
  return READER_PCSC_OK;
}

// Authenticates the block with the key in kKeySlot as key A or key B.
int32_t Authenticate(TApduChannel& channel, int32_t keyMode, uint8_t absolute) {
  std::vector<uint8_t> data;
  uint16_t sw = 0;
  const uint8_t keyType = keyMode == VELIO_READER_KEY_A ? 0x60 : 0x61;
  int32_t rc = Send(
      channel, {0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, absolute, keyType, kKeySlot}, data, sw);
  if (rc != 0) return rc;
  if (sw == 0x6D00 || sw == 0x6E00 || sw == 0x6A81) {
    rc = Send(channel, {0xFF, 0x88, 0x00, absolute, keyType, kKeySlot}, data, sw);
    if (rc != 0) return rc;
  }
  if (sw == 0x6300) return READER_PCSC_ERR_AUTH;
  if (sw != 0x9000) return StepCode(READER_PCSC_SW_AUTH, sw);
  return READER_PCSC_OK;
}

// Loads the key, authenticates, runs access and then overwrites the slot with
// zeros whenever the key had loaded; answers the first failure's code, else
// access's. The overwrite's own outcome is ignored.
template <typename Access>
int32_t WithLoadedKey(TApduChannel& channel, const uint8_t* key6, int32_t keyMode, uint8_t absolute,
                      Access access) {
  int32_t rc = LoadKey(channel, key6);
  if (rc != READER_PCSC_OK) return rc;
  rc = Authenticate(channel, keyMode, absolute);
  if (rc == READER_PCSC_OK) rc = access();
  static const uint8_t kZeros[6] = {};
  (void)LoadKey(channel, kZeros);
  return rc;
}

}  // namespace

int SectorsFromAtr(const uint8_t* atr, size_t size) {
  static const uint8_t kHead[] = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F,
                                  0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06};
  if (!atr || size != 20 || std::memcmp(atr, kHead, sizeof kHead) != 0) return 0;
  // atr[12] is the standard (03: ISO 14443 A part 3), atr[13..14] the card name.
  if (atr[12] != 0x03 || atr[13] != 0x00) return 0;
  if (atr[14] == 0x01) return 16;
  if (atr[14] == 0x02) return 40;
  return 0;
}

std::vector<uint8_t> StorageCardAtr(uint8_t cardName) {
  std::vector<uint8_t> atr = {0x3B, 0x8F, 0x80, 0x01, 0x80,     0x4F, 0x0C, 0xA0, 0x00, 0x00,
                              0x03, 0x06, 0x03, 0x00, cardName, 0x00, 0x00, 0x00, 0x00};
  // The check byte makes the exclusive-or of every byte after TS zero.
  uint8_t check = 0;
  for (size_t i = 1; i < atr.size(); ++i) check ^= atr[i];
  atr.push_back(check);
  return atr;
}

std::string CardTypeName(const uint8_t* atr, size_t size) {
  switch (SectorsFromAtr(atr, size)) {
    case 16:
      return "MIFARE Classic 1K";
    case 40:
      return "MIFARE Classic 4K";
    default:
      break;
  }
  if (atr && size == 20 && atr[0] == 0x3B && atr[4] == 0x80 && atr[5] == 0x4F) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "storage card, name %02X %02X (not MIFARE Classic 1K/4K)",
                  atr[13], atr[14]);
    return buf;
  }
  return "not a MIFARE Classic 1K/4K card";
}

bool AbsoluteBlock(int sectors, int32_t sector, int32_t block, uint8_t& absolute) {
  if (sector < 0 || sector >= sectors || sector >= 40 || block < 0) return false;
  if (sector < 32) {
    if (block >= 4) return false;
    absolute = static_cast<uint8_t>(4 * sector + block);
  } else {
    if (block >= 16) return false;
    absolute = static_cast<uint8_t>(128 + 16 * (sector - 32) + block);
  }
  return true;
}

bool IsTrailerBlock(uint8_t absolute) {
  return absolute < 128 ? absolute % 4 == 3 : (absolute - 128) % 16 == 15;
}

int32_t ReadBlock(TApduChannel& channel, int sectors, const uint8_t* key6, int32_t keyMode,
                  int32_t sector, int32_t block, uint8_t* block16) {
  uint8_t absolute = 0;
  int32_t rc = CheckAddress(sectors, keyMode, sector, block, absolute);
  if (rc != READER_PCSC_OK) return rc;
  return WithLoadedKey(channel, key6, keyMode, absolute, [&]() -> int32_t {
    std::vector<uint8_t> data;
    uint16_t sw = 0;
    const int32_t sent = Send(channel, {0xFF, 0xB0, 0x00, absolute, 0x10}, data, sw);
    if (sent != 0) return sent;
    if (sw != 0x9000) return StepCode(READER_PCSC_SW_READ, sw);
    if (data.size() != 16) return READER_PCSC_ERR_RESPONSE;
    std::memcpy(block16, data.data(), 16);
    return READER_PCSC_OK;
  });
}

int32_t WriteBlock(TApduChannel& channel, int sectors, const uint8_t* key6, int32_t keyMode,
                   int32_t sector, int32_t block, const uint8_t* block16) {
  uint8_t absolute = 0;
  int32_t rc = CheckAddress(sectors, keyMode, sector, block, absolute);
  if (rc != READER_PCSC_OK) return rc;
  // A wrong trailer locks its sector for ever; block 0 is the manufacturer's.
  if (IsTrailerBlock(absolute)) return READER_PCSC_ERR_TRAILER;
  if (absolute == 0) return READER_PCSC_ERR_BLOCK0;
  return WithLoadedKey(channel, key6, keyMode, absolute, [&]() -> int32_t {
    uint8_t updateBytes[5 + 16] = {0xFF, 0xD6, 0x00, absolute, 0x10};
    std::memcpy(updateBytes + 5, block16, 16);
    const std::vector<uint8_t> update(updateBytes, updateBytes + sizeof updateBytes);
    std::vector<uint8_t> data;
    uint16_t sw = 0;
    const int32_t sent = Send(channel, update, data, sw);
    if (sent != 0) return sent;
    if (sw != 0x9000) return StepCode(READER_PCSC_SW_UPDATE, sw);
    return READER_PCSC_OK;
  });
}

int32_t ReadUid(TApduChannel& channel, std::vector<uint8_t>& uid) {
  uint16_t sw = 0;
  const int32_t rc = Send(channel, {0xFF, 0xCA, 0x00, 0x00, 0x00}, uid, sw);
  if (rc != 0) return rc;
  if (sw != 0x9000) return StepCode(READER_PCSC_SW_READ, sw);
  return READER_PCSC_OK;
}

std::string HexBytes(const uint8_t* data, size_t size) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
    s += buf;
  }
  return s;
}

}  // namespace pcsc
