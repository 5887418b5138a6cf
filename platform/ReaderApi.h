/* ReaderApi: the card reader library's C interface, in one place.
 *
 * A reader library (Reader.dll / libReader.so, the simulator; ReaderPcsc.dll /
 * libReaderPcsc.so, any PC/SC reader; or the vendor's own) exports four
 * functions with the signatures below; the member device loads one at run time
 * and calls them through the pointer types below. Both sides include this file,
 * so a library and its caller cannot disagree on a signature or on the calling
 * convention: stdcall on 32-bit Windows, the platform's own elsewhere. Each
 * library keeps its result codes and its extra exports in a header of its own.
 *
 * Header only and plain C: the reader libraries include it and link nothing of
 * the core. Export names: on Windows a .def file names the exports (undecorated
 * also in the 32-bit build); elsewhere VELIO_READER_API makes a library's
 * function visible while everything else in it stays hidden.
 *
 * Every function answers 0 on success and a library's own code otherwise. A
 * card operation runs StartSCard, then ReadCard or WriteCard, then EndSCard on
 * the same port: -1 (USB) or 0 to 9 (COM0 to COM9).
 */
#ifndef VELIO_PLATFORM_READERAPI_H_
#define VELIO_PLATFORM_READERAPI_H_

#include <stdint.h>

/* The calling convention of every reader function. */
#if defined(_WIN32) && !defined(_WIN64)
#define VELIO_READER_CALL __stdcall
#else
#define VELIO_READER_CALL
#endif

/* Marks a reader library's exports. */
#if defined(_WIN32)
#define VELIO_READER_API
#else
#define VELIO_READER_API __attribute__((visibility("default")))
#endif

/* The start parameter StartSCard expects in *param (0x1011). */
#define VELIO_READER_START_PARAM 4113
/* Key modes of ReadCard and WriteCard: authenticate with the sector's key A or key B. */
#define VELIO_READER_KEY_A 4
#define VELIO_READER_KEY_B 5

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the reader port; param points to VELIO_READER_START_PARAM, zero is 0. */
VELIO_READER_API int32_t VELIO_READER_CALL StartSCard(int32_t port, int32_t* param, int32_t zero);
/* Writes the 16 bytes of block16 to the block of the sector, authenticated
 * with key6 (6 bytes) as keyMode says; len is 16. */
VELIO_READER_API int32_t VELIO_READER_CALL WriteCard(int32_t port, uint8_t* key6, uint8_t* block16,
                                                     int32_t sector, int32_t block, int32_t len,
                                                     int32_t keyMode);
/* Reads the block of the sector into block16 (16 bytes), as WriteCard authenticates. */
VELIO_READER_API int32_t VELIO_READER_CALL ReadCard(int32_t port, uint8_t* key6, uint8_t* block16,
                                                    int32_t sector, int32_t block, int32_t len,
                                                    int32_t keyMode);
/* Closes the reader port. */
VELIO_READER_API int32_t VELIO_READER_CALL EndSCard(int32_t port);

/* The same functions as the loader holds them. */
typedef int32_t(VELIO_READER_CALL* TStartSCardFn)(int32_t port, int32_t* param, int32_t zero);
typedef int32_t(VELIO_READER_CALL* TWriteCardFn)(int32_t port, uint8_t* key6, uint8_t* block16,
                                                 int32_t sector, int32_t block, int32_t len,
                                                 int32_t keyMode);
typedef int32_t(VELIO_READER_CALL* TReadCardFn)(int32_t port, uint8_t* key6, uint8_t* block16,
                                                int32_t sector, int32_t block, int32_t len,
                                                int32_t keyMode);
typedef int32_t(VELIO_READER_CALL* TEndSCardFn)(int32_t port);

#ifdef __cplusplus
}
#endif

#endif /* VELIO_PLATFORM_READERAPI_H_ */
