/* ReaderSimCodes: the card-reader simulator's result codes and its own export.
 *
 * libReader.so (Reader.dll on Windows) stands in for the vendor's reader
 * library. It exports the four reader functions of platform/ReaderApi.h
 * (stdcall on 32-bit Windows). Every function answers READER_SIM_OK (0) on
 * success and one of the codes below otherwise; the member device logs a code
 * as eight hexadecimal digits ("读卡失败:00000013").
 *
 * The card on the reader is the file card.bin in the state folder: the folder
 * named by the environment variable VELIO_READER_SIM_DIR, else ReaderSim/
 * beside the library, except where the library is installed in a system
 * folder (/usr): there it has no state folder of its own and answers as with
 * no card. No file: no card. The file is the 4096-byte image of a
 * 40-sector card: sectors 0-31 hold 4 blocks of 16 bytes at offset sector*64,
 * sectors 32-39 hold 16 blocks at 2048 + (sector-32)*256. The last block of
 * each sector is its trailer: key A in bytes 0-5, access bits in bytes 6-9,
 * key B in bytes 10-15. Reading a trailer gives key A as zero bytes.
 *
 * Ports: -1 (USB) and 0 to 9 (COM0 to COM9). StartSCard marks a port open
 * (opening an open port again succeeds), EndSCard closes it. The functions are
 * thread-safe; each card access also holds an flock on card.lock in the state
 * folder, which cardsim takes too, and a write replaces card.bin atomically
 * (card.bin.tmp, then rename).
 */
#ifndef VELIO_SIM_READERSIMCODES_H_
#define VELIO_SIM_READERSIMCODES_H_

#include <stdint.h>

#include "platform/ReaderApi.h"

/* Success. */
#define READER_SIM_OK 0x00
/* StartSCard: the port number is outside -1..9. */
#define READER_SIM_ERR_PORT_RANGE 0x01
/* StartSCard: the start parameter pointer is null or does not hold
 * VELIO_READER_START_PARAM (4113, 0x1011). */
#define READER_SIM_ERR_START_PARAM 0x02
/* ReadCard, WriteCard, EndSCard: the port is not open (no StartSCard before). */
#define READER_SIM_ERR_PORT_CLOSED 0x03
/* ReadCard, WriteCard: a null key or block pointer, or a length other than 16. */
#define READER_SIM_ERR_ARGUMENT 0x04
/* ReadCard, WriteCard: no card on the reader (no card.bin). */
#define READER_SIM_ERR_NO_CARD 0x10
/* ReadCard, WriteCard: sector or block not on the card (sectors 0..39; blocks 0..3,
 * 0..15 from sector 32). */
#define READER_SIM_ERR_ADDRESS 0x11
/* ReadCard, WriteCard: a key mode other than VELIO_READER_KEY_A (4) or
 * VELIO_READER_KEY_B (5). */
#define READER_SIM_ERR_KEY_MODE 0x12
/* ReadCard, WriteCard: the key does not match the sector trailer's key A (mode 4) or
 * key B (mode 5). */
#define READER_SIM_ERR_AUTH 0x13
/* WriteCard: the block is a sector trailer, which the reader never writes. */
#define READER_SIM_ERR_TRAILER 0x14
/* WriteCard: sector 0 block 0 (the card's serial number block) is read-only. */
#define READER_SIM_ERR_BLOCK0 0x15
/* ReadCard, WriteCard: card.bin is not a 4096-byte image. */
#define READER_SIM_ERR_IMAGE 0x16
/* ReadCard, WriteCard: card.bin or the lock file cannot be read, locked or replaced. */
#define READER_SIM_ERR_IO 0x17

#ifdef __cplusplus
extern "C" {
#endif

/* Not a reader function: the simulator's own. Copies the path of the card file
   it uses now (card.bin in its state folder) with a closing NUL into buffer when
   size allows; returns the path's length in bytes (0 when the simulator has
   no state folder). Lets a program say which card file its simulated reader
   holds. */
VELIO_READER_API int32_t VELIO_READER_CALL ReaderSimCardFile(char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* VELIO_SIM_READERSIMCODES_H_ */
