// PcscCardUnit: the MIFARE Classic storage-card commands of a PC/SC reader.
//
// What the PC/SC reader library does with a connected card, apart from PC/SC
// itself: recognising a MIFARE Classic 1K or 4K card by its ATR, turning
// sector and block into the card's absolute block, and the command sequence of
// one block read or write (load key FF 82, authenticate FF 86 or the older
// FF 88, read FF B0 or update FF D6), with each outcome mapped to a code of
// ReaderPcscCodes.h. The commands go through TApduChannel, so the sequence
// runs against a real connection or against a card in memory alike.
//
// Nothing here keeps state between calls; the functions are thread-safe as
// long as each thread uses its own channel.
#ifndef VELIO_PCSC_PCSCCARDUNIT_H_
#define VELIO_PCSC_PCSCCARDUNIT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pcsc {

// Sends one command APDU and receives the response APDU (data, then SW1 SW2).
class TApduChannel {
 public:
  virtual ~TApduChannel() = default;
  // Answers 0 and fills response, or the PC/SC error code of the transmission.
  virtual int32_t Transmit(const std::vector<uint8_t>& command, std::vector<uint8_t>& response) = 0;
};

// The sectors of a MIFARE Classic card by its ATR as PC/SC describes storage
// cards (3B 8F 80 01 80 4F 0C, RID A0 00 00 03 06, standard, card name):
// 16 for a 1K card (name 00 01), 40 for a 4K card (00 02); 0 for any other ATR.
int SectorsFromAtr(const uint8_t* atr, size_t size);
// The ATR a reader gives a card of that name (1 for 1K, 2 for 4K), check byte included.
std::vector<uint8_t> StorageCardAtr(uint8_t cardName);
// "MIFARE Classic 1K", "MIFARE Classic 4K" or a short description of another ATR.
std::string CardTypeName(const uint8_t* atr, size_t size);

// The card's absolute block of sector and block (sectors 0-31: 4S+B; sectors
// 32-39: 128 + 16(S-32) + B). Answers false when it lies outside a card of
// that many sectors.
bool AbsoluteBlock(int sectors, int32_t sector, int32_t block, uint8_t& absolute);
// True when the absolute block is a sector trailer.
bool IsTrailerBlock(uint8_t absolute);

// Reads sector/block of a card with that many sectors into block16, after
// loading key6 and authenticating with key A (keyMode 4) or key B (keyMode 5).
// Answers 0 or a code of ReaderPcscCodes.h. Once key6 has loaded, zeros are
// loaded over it before the function returns (a refusal of that is ignored).
// REQUIRES: key6 and block16 valid.
int32_t ReadBlock(TApduChannel& channel, int sectors, const uint8_t* key6, int32_t keyMode,
                  int32_t sector, int32_t block, uint8_t* block16);
// Writes block16 the same way. Sector trailers and block 0 are refused before
// any command is sent.
int32_t WriteBlock(TApduChannel& channel, int sectors, const uint8_t* key6, int32_t keyMode,
                   int32_t sector, int32_t block, const uint8_t* block16);
// Reads the card's UID (FF CA 00 00 00) into uid; answers 0 or a code.
int32_t ReadUid(TApduChannel& channel, std::vector<uint8_t>& uid);

// Bytes as upper-case hexadecimal pairs separated by spaces.
std::string HexBytes(const uint8_t* data, size_t size);

}  // namespace pcsc

#endif  // VELIO_PCSC_PCSCCARDUNIT_H_
