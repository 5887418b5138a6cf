/* ReaderPcscCodes: the PC/SC reader library's result codes and its own export.
 *
 * libReaderPcsc.so (ReaderPcsc.dll on Windows) is a reader library for any
 * PC/SC contact-less reader: pcsc-lite on Linux, the smart-card service
 * (winscard) on Windows. It exports the four reader functions of
 * platform/ReaderApi.h, as the simulator does, so the member device loads it
 * like any reader library, and ReaderDiagnose for the installer's self-check.
 *
 * Ports: -1 (USB) is the first reader, in the order PC/SC lists them, that has
 * a card present; 0 to 9 (COM0 to COM9) the reader at that index. When the
 * environment variable VELIO_PCSC_READER is set and not empty, only readers
 * whose name contains its text count (and are indexed).
 *
 * StartSCard connects to the card of the chosen reader in shared mode and
 * checks from its ATR that it is a MIFARE Classic 1K or 4K card; it never
 * waits for a card. ReadCard and WriteCard turn sector and block into the
 * card's absolute block, load the key into the reader, authenticate with key A
 * (mode 4) or key B (mode 5) and read or update the 16 bytes, as one PC/SC
 * transaction (the card has one authentication for all its connections). The
 * key goes into the reader's volatile key slot 0, where it would stay until the
 * reader loses power, open to any other program that can talk to the reader;
 * so each ReadCard and WriteCard ends, whatever its outcome, by loading six
 * zero bytes into that slot. A reader that refuses this second load keeps the
 * sector key (nothing else can clear it) and the operation still answers its
 * own code. EndSCard
 * disconnects, leaving the card in place, and releases the PC/SC context; it
 * is safe on every path. Each port holds at most one connection, from
 * StartSCard to EndSCard; the functions are thread-safe and two ports may be
 * used at the same time.
 *
 * Every function answers READER_PCSC_OK (0) on success, otherwise one of the
 * codes below. Codes that mean the same as the simulator's have its numbers.
 */
#ifndef VELIO_PCSC_READERPCSCCODES_H_
#define VELIO_PCSC_READERPCSCCODES_H_

#include <stdint.h>

#include "platform/ReaderApi.h"

/* Success. */
#define READER_PCSC_OK 0x00
/* StartSCard: the port number is outside -1..9. */
#define READER_PCSC_ERR_PORT_RANGE 0x01
/* StartSCard: the start parameter pointer is null or does not hold
 * VELIO_READER_START_PARAM (4113). */
#define READER_PCSC_ERR_START_PARAM 0x02
/* ReadCard, WriteCard, EndSCard: the port is not open (no successful StartSCard). */
#define READER_PCSC_ERR_PORT_CLOSED 0x03
/* ReadCard, WriteCard: a null key or block pointer, or a length other than 16. */
#define READER_PCSC_ERR_ARGUMENT 0x04
/* StartSCard: the reader has no card (USB: no listed reader has one). */
#define READER_PCSC_ERR_NO_CARD 0x10
/* ReadCard, WriteCard: sector or block not on this card (1K: sectors 0..15;
 * 4K: sectors 0..39, blocks 0..15 from sector 32). */
#define READER_PCSC_ERR_ADDRESS 0x11
/* ReadCard, WriteCard: a key mode other than VELIO_READER_KEY_A (4) or
 * VELIO_READER_KEY_B (5). */
#define READER_PCSC_ERR_KEY_MODE 0x12
/* ReadCard, WriteCard: authentication failed (status word 63 00): the key is
 * not the sector's key A or key B. */
#define READER_PCSC_ERR_AUTH 0x13
/* WriteCard: the block is a sector trailer; refused before anything is sent. */
#define READER_PCSC_ERR_TRAILER 0x14
/* WriteCard: sector 0 block 0 (the manufacturer block); refused before anything is sent. */
#define READER_PCSC_ERR_BLOCK0 0x15
/* StartSCard: the PC/SC service is not running or not reachable. */
#define READER_PCSC_ERR_NO_SERVICE 0x20
/* StartSCard: no reader at that index (or none at all, or none whose name
 * contains VELIO_PCSC_READER). */
#define READER_PCSC_ERR_NO_READER 0x21
/* StartSCard: the card is not a MIFARE Classic 1K or 4K card (by its ATR). */
#define READER_PCSC_ERR_CARD_TYPE 0x22
/* StartSCard: another program holds the reader exclusively. */
#define READER_PCSC_ERR_SHARING 0x23
/* ReadCard, WriteCard: the answer to a command was shorter than a status word,
 * or a read answered other than 16 bytes. */
#define READER_PCSC_ERR_RESPONSE 0x24
/* Any other PC/SC error is answered as the PC/SC code itself, 0x8010xxxx (for
 * example 0x80100069, the card was removed). Any other status word SW1 SW2
 * from the reader or card is answered as STEP + SW1 SW2, STEP being: */
#define READER_PCSC_SW_LOAD_KEY 0x00010000 /* FF 82, loading the key */
#define READER_PCSC_SW_AUTH 0x00020000     /* FF 86 / FF 88, authentication */
#define READER_PCSC_SW_READ 0x00030000     /* FF B0, reading the block */
#define READER_PCSC_SW_UPDATE 0x00040000   /* FF D6, writing the block */

#ifdef __cplusplus
extern "C" {
#endif

/* The installer's check: answers 0 when the PC/SC service is reachable and
 * the reader that port selects (VELIO_PCSC_READER applied) is present with a
 * card on it; READER_PCSC_ERR_NO_CARD when the reader is there but has no card
 * (for port -1: readers are listed, none has a card), the text then naming
 * the readers that do hold a card and the PortName that reaches each; another
 * of the codes above otherwise. text receives a NUL-terminated one-line ASCII
 * description, cut to size bytes; text may be null when size is 0. */
VELIO_READER_API int32_t VELIO_READER_CALL ReaderDiagnose(int32_t port, char* text, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* VELIO_PCSC_READERPCSCCODES_H_ */
