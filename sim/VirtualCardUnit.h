// VirtualCardUnit: the simulated card as a PC/SC reader sees it.
//
// TVirtualCard answers the storage-card commands a PC/SC contact-less reader
// understands, as a MIFARE Classic 4K (or 1K) card whose memory is card.bin in
// the simulator's state folder: get UID (FF CA), load key (FF 82, slots 0 and
// 1), authenticate (FF 86 and the older FF 88) against the sector trailer's key
// A or key B, read (FF B0) and update (FF D6) 16 bytes of the authenticated
// sector only; trailers and block 0 are never written, and a trailer reads
// with key A as zeros, as in the simulator library. Every command takes the
// card lock, so cardsim and the simulator library can work on the same image.
//
// RunVpcdCard connects the card to the virtual reader driver of
// vsmartcard-vpcd over TCP. The driver's protocol: every message is a 2-byte
// big-endian length and that many bytes; a 1-byte message is a control code
// (0 power off, 1 power on, 2 reset, 4 send the ATR, answered by the ATR), any
// longer one a command APDU, answered by the response APDU. The driver counts
// the card as inserted while the connection is open, so the card is connected
// while card.bin exists and disconnected when it goes.
//
// A TVirtualCard is not thread-safe; one link uses it.
#ifndef VELIO_SIM_VIRTUALCARDUNIT_H_
#define VELIO_SIM_VIRTUALCARDUNIT_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace readersim {

class TVirtualCard {
 public:
  // stateDir ends with a separator; sectors is 40 (4K) or 16 (1K).
  TVirtualCard(std::string stateDir, int sectors);

  const std::vector<uint8_t>& Atr() const { return atr_; }
  // Answers the driver's ATR request with atr instead (another card type).
  void SetAtr(std::vector<uint8_t> atr) { atr_ = std::move(atr); }
  // Power off, on or reset: forgets the loaded keys and the authentication.
  void Reset();
  // Answers one command APDU with its response APDU (data, SW1, SW2).
  std::vector<uint8_t> Process(const std::vector<uint8_t>& command);
  // When true, FF 86 is answered 6D 00 (a reader that knows only FF 88).
  void SetRejectGeneralAuthenticate(bool reject) { rejectGeneralAuth_ = reject; }
  // True while card.bin exists.
  bool Present() const;
  // The key a load key command (FF 82) last put into slot 0 or 1, empty when
  // none has since the card was powered or reset: what another program could
  // authenticate with.
  std::vector<uint8_t> SlotKey(uint8_t slot) const;

 private:
  std::vector<uint8_t> Authenticate(uint8_t block, uint8_t keyType, uint8_t slot);
  std::vector<uint8_t> Read(uint8_t block);
  std::vector<uint8_t> Update(uint8_t block, const uint8_t* data);
  // Sector and block of card.bin for an absolute block; false off the card.
  bool Locate(uint8_t absolute, int32_t& sector, int32_t& block) const;

  std::string dir_;
  int sectors_;
  std::vector<uint8_t> atr_;
  uint8_t keys_[2][6] = {};
  bool keyLoaded_[2] = {false, false};
  int32_t authSector_ = -1;
  bool rejectGeneralAuth_ = false;
};

// Keeps the card connected to the vpcd driver at host:port until stop becomes
// true: connects while the card is present (retrying every 200 ms while the
// driver does not answer), answers the driver's messages, and disconnects when
// card.bin goes. note receives one line for each change of state. Answers 0.
int RunVpcdCard(TVirtualCard& card, const std::string& host, int port,
                const std::atomic<bool>& stop, const std::function<void(const std::string&)>& note);

}  // namespace readersim

#endif  // VELIO_SIM_VIRTUALCARDUNIT_H_
