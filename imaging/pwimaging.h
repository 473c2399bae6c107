/*
 * Pagewick imaging component: JPEG load, comment, save and free entries in two
 * shared modules.
 *
 *   pwimgfil  PwImgLoadFile, PwImgSetComment, PwImgSaveFile (file formats),
 *             PwImgSetTraceHook
 *   pwimgkrn  PwImgFreeRecord                               (records, memory)
 *
 * Every entry is a plain C call (cdecl). Status results are 1 for success and
 * 0 for failure; no entry ever ends the process or lets an error escape.
 *
 * PwImgLoadFile(fileName, record, recordSize, bitsPerPixel, flags, reserved1, reserved2)
 *   Reads a JPEG file into the caller's 168-byte record. The record is zeroed
 *   first, so its HoldsData bit (bit 0 of byte 36) is valid after every call,
 *   failed or not; it is set only when the record owns image data, which
 *   PwImgFreeRecord releases.
 *   bitsPerPixel: 0  keep the file's own components and samples. The DCT
 *                    coefficients themselves are kept, so turning and saving
 *                    again is lossless.
 *                 24 decode to 24-bit RGB pixels (greyscale and YCbCr files;
 *                    saving such a record encodes the picture anew).
 *   flags:        bit 0 (PWIMG_LOAD_UPRIGHT): turn the picture upright by its
 *                 EXIF Orientation (all eight values) and set the kept EXIF
 *                 Orientation to 1 and its pixel dimensions to the new size.
 *                 Other bits must be 0.
 *   reserved1, reserved2: must be null.
 *   Turning with coefficients moves whole DCT blocks and transforms the
 *   coefficients inside them, as jpegtran does. When the turn has to mirror
 *   an edge whose size is not a whole number of iMCUs (8 pixels times the
 *   largest sampling factor along that edge: 8, 16 or 32), the partial iMCU at
 *   that edge cannot move losslessly and is dropped, exactly as
 *   `jpegtran -trim` drops it: at most 7 pixel rows or columns without
 *   subsampling, 15 with 2:1 (4:2:2 across, 4:2:0 both ways) and 31 with 4:1
 *   (4:1:1 across). Only when dropping it would leave no picture at all
 *   (images smaller than one iMCU) is the picture decoded to pixels and
 *   turned there instead.
 *   Fails (0) on a missing or unreadable file, data that is not a complete
 *   baseline/progressive JPEG (truncated or corrupt data included), pictures
 *   over PWIMG_MAX_PIXELS, bad arguments or lack of memory.
 *
 * PwImgSetComment(type, text, length)
 *   Keeps a text for every later save of this process: one COM marker per type
 *   (0 to 15), written in ascending type order. length counts the terminating
 *   zero; the text ends at its first zero or after length - 1 characters.
 *   A null text or a length of 0 clears the type. By this program's use,
 *   type 0 carries the version text and type 9 the text carried over from the
 *   scanner's file. Fails (0) for a type above 15 or a text over 65533 bytes.
 *
 * PwImgSaveFile(fileName, record, format, bitsPerPixel, quality, reserved)
 *   Writes the record as a new file of that name (an existing one is replaced)
 *   with the APPn markers kept from the loaded file (EXIF first, right after
 *   SOI when the file had no JFIF header), then the Adobe APP14 marker that
 *   RGB, CMYK and YCCK data carry, then the comments.
 *   format:       98 (PWIMG_FORMAT_JPEG_EXIF) JPEG keeping EXIF; the only one.
 *   bitsPerPixel: 0 or 24: the record is written with its own components
 *                 (24-bit colour stays colour, 8-bit grey stays grey, CMYK
 *                 stays CMYK); no conversion, so coefficient records are
 *                 written without decoding. Other values fail.
 *   quality:      1 to 100, the IJG quality factor used when the record holds
 *                 pixels and the picture is encoded anew. Coefficient records
 *                 keep their quantisation tables and coefficients (turned as
 *                 the load planned), written with the standard Huffman tables.
 *   reserved:     must be null.
 *   Fails (0) for a coefficient record whose blocks hold values outside the
 *   8-bit JPEG range (a corrupt scan); loading it as 24-bit pixels still works.
 *   On failure no partial file is left behind under fileName.
 *
 * PwImgFreeRecord(record)
 *   Releases the data of a record whose HoldsData bit is set and clears the
 *   bit; any other record is left alone, so a second call is harmless.
 *
 * PwImgSetTraceHook(hook)
 *   Sets the function that receives a line (without a line end) for each
 *   failure an entry swallows, for the program's debug trace; null, the
 *   default, traces nothing. The hook may be called on any thread that calls
 *   an entry, and must not throw.
 */
#ifndef PAGEWICK_IMAGING_PWIMAGING_H
#define PAGEWICK_IMAGING_PWIMAGING_H

#include <stdint.h>

#include "pwimgfil_export.h"
#include "pwimgkrn_export.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PWIMG_RECORD_SIZE 168u
#define PWIMG_RECORD_MAGIC 0x4D495750u /* "PWIM" little-endian */
#define PWIMG_HOLDS_DATA_OFFSET 36u
#define PWIMG_HOLDS_DATA 0x01u

#define PWIMG_LOAD_UPRIGHT 0x1u
#define PWIMG_FORMAT_JPEG_EXIF 98
#define PWIMG_MAX_COMMENT_TYPE 15u
#define PWIMG_MAX_COMMENT_LENGTH 65533u
#define PWIMG_MAX_PIXELS (200u * 1000u * 1000u)

/* How the record holds its picture. */
#define PWIMG_STORAGE_NONE 0u
#define PWIMG_STORAGE_COEFFICIENTS 1u
#define PWIMG_STORAGE_PIXELS 2u

/* Record flags, byte 36. */
#define PWIMG_RECORD_TRIMMED 0x02u /* a partial edge iMCU was dropped while turning */

/*
 * The record as the component fills it. Callers may keep it as 168 plain
 * bytes; all fields sit at fixed offsets in both 32- and 64-bit builds.
 */
typedef struct PwImgRecord {
  uint32_t magic;          /*  0: PWIMG_RECORD_MAGIC when filled by a load */
  uint32_t recordSize;     /*  4: 168 */
  uint32_t width;          /*  8: pixels, upright */
  uint32_t height;         /* 12 */
  uint32_t bitsPerPixel;   /* 16: 8 grey, 24 colour, 32 CMYK */
  uint32_t storage;        /* 20: PWIMG_STORAGE_* */
  uint32_t orientation;    /* 24: the EXIF Orientation the file had (1 when none) */
  uint32_t fileWidth;      /* 28: the picture as stored in the file */
  uint32_t fileHeight;     /* 32 */
  uint8_t flags;           /* 36: PWIMG_HOLDS_DATA, PWIMG_RECORD_TRIMMED */
  uint8_t reserved0[3];    /* 37 */
  uint64_t image;          /* 40: the component's picture data (an address) */
  uint8_t reserved1[120];  /* 48 */
} PwImgRecord;

PWIMGFIL_EXPORT int PwImgLoadFile(const char* fileName, void* record, uint32_t recordSize,
                                  int32_t bitsPerPixel, int32_t flags, void* reserved1,
                                  void* reserved2);
PWIMGFIL_EXPORT int PwImgSetComment(uint32_t type, const char* text, uint32_t length);
PWIMGFIL_EXPORT int PwImgSaveFile(const char* fileName, void* record, int32_t format,
                                  int32_t bitsPerPixel, int32_t quality, void* reserved);
PWIMGKRN_EXPORT void PwImgFreeRecord(void* record);

typedef void (*PwImgTraceHook)(const char* line);
PWIMGFIL_EXPORT void PwImgSetTraceHook(PwImgTraceHook hook);

#ifdef __cplusplus
}
#endif

#endif
