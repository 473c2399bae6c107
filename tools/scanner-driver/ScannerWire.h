/* The framed wire format between the scanner driver (kernel mode, under Wine)
 * and the scanner simulator on the Linux side. Plain C: the driver is C, the
 * simulator C++.
 *
 * Two FIFOs in one folder: the driver writes requests into "request" and reads
 * replies from "reply". One request is in flight at a time; each reply answers
 * the request with the same sequence number. Every field is a little-endian
 * 32-bit word.
 *
 *   request: magic "PWFQ", sequence, control code, input length, output capacity,
 *            then input-length bytes (the caller's input buffer)
 *   reply:   magic "PWFR", sequence, status, byte count,
 *            then byte-count bytes (the start of the caller's output buffer)
 *
 * status is 0 for success, otherwise the Win32 error code the caller's
 * DeviceIoControl reports. A reply of a failed request carries no bytes.
 * A successful reply's byte count never exceeds the request's output
 * capacity; the driver rejects a reply that breaks this, or carries a wrong
 * magic or sequence, as a protocol error instead of passing it on.
 *
 * The control code PW_WIRE_SIMULATOR_CONTROL never reaches the scanner: its
 * input is a command line for the simulator's port (plug, unplug, queue
 * pictures, faults; see the simulator's --help) and its reply bytes are the
 * simulator's text answer. Tests send it through the driver with
 * DeviceIoControl, so it is ordered with the scanner's own requests.
 */
#ifndef PAGEWICK_SCANNER_WIRE_H
#define PAGEWICK_SCANNER_WIRE_H

#define PW_WIRE_REQUEST_MAGIC 0x51465750u /* "PWFQ" in file order */
#define PW_WIRE_REPLY_MAGIC 0x52465750u   /* "PWFR" */
#define PW_WIRE_REQUEST_HEADER_SIZE 20u
#define PW_WIRE_REPLY_HEADER_SIZE 16u
/* Largest input or output one request may carry (the pass-through buffer is
 * 524368 bytes). */
#define PW_WIRE_MAX_PAYLOAD (1u << 20)
/* CTL_CODE(FILE_DEVICE_UNKNOWN, 0xA00, METHOD_BUFFERED, FILE_ANY_ACCESS) */
#define PW_WIRE_SIMULATOR_CONTROL 0x00222800u
/* How long the driver waits for a reply before it fails the request. */
#define PW_WIRE_REPLY_TIMEOUT_MS 10000u

#define PW_WIRE_REQUEST_FIFO "request"
#define PW_WIRE_REPLY_FIFO "reply"

/* Word offsets in the headers. */
enum {
  PW_WIRE_REQUEST_MAGIC_AT = 0,
  PW_WIRE_REQUEST_SEQUENCE_AT = 4,
  PW_WIRE_REQUEST_CODE_AT = 8,
  PW_WIRE_REQUEST_INPUT_AT = 12,
  PW_WIRE_REQUEST_CAPACITY_AT = 16,
  PW_WIRE_REPLY_MAGIC_AT = 0,
  PW_WIRE_REPLY_SEQUENCE_AT = 4,
  PW_WIRE_REPLY_STATUS_AT = 8,
  PW_WIRE_REPLY_COUNT_AT = 12
};

#ifdef __cplusplus
#define PW_WIRE_BYTE(value) static_cast<unsigned char>((value) & 0xFFu)
#else
#define PW_WIRE_BYTE(value) ((unsigned char)((value) & 0xFFu))
#endif

static inline unsigned int PwWireGet(const unsigned char* bytes, unsigned int at) {
  return (1u * bytes[at]) | (1u * bytes[at + 1] << 8) | (1u * bytes[at + 2] << 16) | (1u * bytes[at + 3] << 24);
}

static inline void PwWirePut(unsigned char* bytes, unsigned int at, unsigned int value) {
  bytes[at] = PW_WIRE_BYTE(value);
  bytes[at + 1] = PW_WIRE_BYTE(value >> 8);
  bytes[at + 2] = PW_WIRE_BYTE(value >> 16);
  bytes[at + 3] = PW_WIRE_BYTE(value >> 24);
}

#endif
