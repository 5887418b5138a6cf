// CardImageUnit: the simulated card's image file and its state folder.
//
// Shared by the reader simulator library and cardsim; depends on nothing but
// the standard library and the operating system. A card image is 4096 bytes:
// sectors 0-31 hold 4 blocks of 16 bytes at sector*64, sectors 32-39 hold 16
// blocks at 2048 + (sector-32)*256; the last block of a sector is its trailer
// (key A bytes 0-5, access bits 6-9, key B 10-15).
//
// Every access to card.bin happens while a TCardLock is held: an exclusive
// flock on card.lock in the state folder (LockFileEx on Windows), which keeps
// other processes out, together with a process-wide mutex, which keeps other
// threads of this process out. SaveCard replaces the file atomically (write
// card.bin.tmp, flush, rename), so a reader sees the old or the new card,
// never a torn one.
#ifndef VELIO_SIM_CARDIMAGEUNIT_H_
#define VELIO_SIM_CARDIMAGEUNIT_H_

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

namespace readersim {

inline constexpr size_t kCardSize = 4096;
inline constexpr size_t kBlockSize = 16;
inline constexpr int32_t kSectorCount = 40;

using TCardImage = std::array<uint8_t, kCardSize>;
using TKey = std::array<uint8_t, 6>;

// Blocks in a sector: 4 for sectors 0-31, 16 for 32-39, 0 outside the card.
int32_t BlocksInSector(int32_t sector);
// True and sets offset when sector and block lie on the card.
bool BlockOffset(int32_t sector, int32_t block, size_t& offset);
// The offset of the sector's trailer block. REQUIRES: 0 <= sector < 40.
size_t TrailerOffset(int32_t sector);
bool IsTrailer(int32_t sector, int32_t block);

// True when dir lies in the installed system's own folders (/usr, and /bin,
// /sbin, /lib* that are merged into it), where a program keeps no state of its
// own. Always false on Windows, where the programs live in a folder the user
// unpacked.
bool IsSystemFolder(const std::string& dir);

// The state folder, ending with the separator: VELIO_READER_SIM_DIR when set
// and not empty, else besideDir + "ReaderSim/"; empty when the variable is not
// set and besideDir is a system folder (IsSystemFolder): an installed program
// has no card of its own, the caller answers "no card" or asks for a folder.
// besideDir ends with a separator.
std::string StateDir(const std::string& besideDir);
std::string CardFile(const std::string& stateDir);

// Holds the card lock of a state folder while it lives. When the folder does
// not exist no lock file is made and Held() is false; when the lock file cannot
// be created (a read-only folder) it is opened for reading, and if that fails
// too only the in-process mutex is held. Not copyable.
class TCardLock {
 public:
  explicit TCardLock(const std::string& stateDir);
  ~TCardLock();
  TCardLock(const TCardLock&) = delete;
  TCardLock& operator=(const TCardLock&) = delete;

  // True when the folder exists and its lock file is locked.
  bool Held() const { return held_; }

 private:
  std::unique_lock<std::mutex> processLock_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool held_ = false;
};

enum class TLoadResult { Ok, NoCard, BadImage, IoError };

// Reads card.bin. REQUIRES: the caller holds the folder's TCardLock.
TLoadResult LoadCard(const std::string& stateDir, TCardImage& image);
// Replaces card.bin atomically; false when any step fails (the old file then
// stays as it was). REQUIRES: the caller holds the folder's TCardLock.
bool SaveCard(const std::string& stateDir, const TCardImage& image);
// Deletes card.bin; true when it is gone afterwards.
bool RemoveCard(const std::string& stateDir);

// A fresh card: every data block zero, both keys of every sector = key, the
// access bits FF 07 80 69 in every trailer, and sector 0 block 0 holding the
// four serial bytes, their exclusive-or check byte and the manufacturer bytes.
TCardImage NewCardImage(const TKey& key, const std::array<uint8_t, 4>& serial);

// Parses 12 hexadecimal digits; false for anything else.
bool ParseKey(const std::string& text, TKey& key);

}  // namespace readersim

#endif  // VELIO_SIM_CARDIMAGEUNIT_H_
