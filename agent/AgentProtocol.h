#pragma once
// The messages between the service and its session agents, one per pipe
// message: a header of type (u32) and body length (u32), little-endian, then
// the body. Texts travel as a u16 byte count and that many ANSI bytes.
// The decoder is strict: every field is checked and anything it does not
// accept comes back as a refusal reason, never as a partial message.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pw::agent {

enum class MessageType : std::uint32_t {
  State = 1,       // service -> agent: the settings, whether a scanner is attached, whether the agent may change them
  Apply = 2,       // agent -> service: new settings from the settings page
  ShowPage = 3,    // service -> agent: show the settings page
  Notify = 4,      // service -> agent: tell the user something (a message box)
  OpenFolder = 5,  // service -> agent: open a folder window
  Exit = 6,        // either way: the agent ends / the user chose Exit
  NoticeClosed = 7,  // agent -> service: the user closed a notice's box
};

// Who sent a message: each side accepts only the types its peer may send.
enum class Sender { Service, Agent };

inline constexpr std::size_t kHeaderSize = 8;
// A save location an agent applies: what the folder browser lets a user choose.
inline constexpr std::size_t kMaxPathLength = 128;
// A path the service names: the save location in force (the settings file
// may hold a longer one than the browser gives), a new folder below it, a
// file a notice is about. Up to MAX_PATH - 1.
inline constexpr std::size_t kMaxServicePathLength = 259;
// The largest body (a path of the service's with its fields) plus the header, rounded up.
inline constexpr std::size_t kMaxMessageSize = 512;

// What the user is told.
enum class NoticeKind : std::uint32_t {
  DiskFull = 1,           // the image went to the scratch file: the drive is full
  PathTooLong = 2,        // the chosen save location is too long
  PictureIncomplete = 3,  // a pull was cut short; path: the file that keeps what arrived
  CannotSave = 4,         // pictures cannot be saved; path: the save location
  LocationRefused = 5,    // the service refused an applied location; reason: why
  SwitchedToDefault = 6,  // no image folder could be made below the location; path: where pictures go now
};

// Why a save location was refused (a notice's reason); the values of the
// location rules' problems, so either side can name them.
inline constexpr std::uint32_t kMinLocationReason = 1;
inline constexpr std::uint32_t kMaxLocationReason = 11;

// Whether a notice of this kind names a path (the others carry none).
constexpr bool NoticeHasPath(NoticeKind kind) {
  return kind == NoticeKind::PictureIncomplete || kind == NoticeKind::CannotSave ||
         kind == NoticeKind::SwitchedToDefault;
}

struct StateMessage {
  std::uint32_t saveType = 0;  // 0 card, 1 computer
  std::string saveLocation;
  bool autoRotate = false;
  bool scannerAttached = false;
  // Whether this agent's user may change the settings in force (Apply, Exit):
  // only the user at the console may. Otherwise the page shows them read-only.
  bool mayChange = false;
  bool operator==(const StateMessage&) const = default;
};

struct ApplyMessage {
  std::uint32_t saveType = 0;
  std::string saveLocation;
  bool autoRotate = false;
  bool operator==(const ApplyMessage&) const = default;
};

struct ShowPageMessage {
  bool operator==(const ShowPageMessage&) const = default;
};

// A notice of kind LocationRefused carries a reason (a u32 after the path,
// kMinLocationReason to kMaxLocationReason); other kinds carry none (0).
constexpr bool NoticeHasReason(NoticeKind kind) { return kind == NoticeKind::LocationRefused; }

struct NotifyMessage {
  NoticeKind kind = NoticeKind::DiskFull;
  std::string path;  // empty unless NoticeHasPath(kind)
  std::uint32_t reason = 0;
  bool operator==(const NotifyMessage&) const = default;
};

struct OpenFolderMessage {
  std::string path;
  bool operator==(const OpenFolderMessage&) const = default;
};

struct ExitMessage {
  bool operator==(const ExitMessage&) const = default;
};

// The agent's answer once the box of a notice has closed (or was not shown
// because another box of the agent was open): the service holds pulls while
// a disk-full notice is unanswered.
struct NoticeClosedMessage {
  NoticeKind kind = NoticeKind::DiskFull;
  bool operator==(const NoticeClosedMessage&) const = default;
};

using Message = std::variant<StateMessage, ApplyMessage, ShowPageMessage, NotifyMessage, OpenFolderMessage, ExitMessage,
                             NoticeClosedMessage>;

MessageType TypeOf(const Message& message);

// Why the decoder refused a message.
enum class Refusal {
  None,
  ShortHeader,     // fewer than 8 bytes
  TooLarge,        // the header's length or the message exceeds kMaxMessageSize
  LengthMismatch,  // the header's length is not the body's size
  UnknownType,
  WrongSender,     // a type the peer never sends
  Truncated,       // the body ends inside a field
  TrailingBytes,   // bytes left after the last field
  BadSaveType,     // not 0 or 1
  BadBoolean,      // not 0 or 1
  PathTooLong,     // over kMaxPathLength (Apply) or kMaxServicePathLength (the service's) characters
  BadPath,         // a NUL inside, an empty folder path, or a notice's path missing or unexpected
  BadNoticeKind,
  BadReason,       // a refused location's reason out of range, or a reason on another notice
};

// A short English text for the event log.
std::string_view RefusalText(Refusal refusal);

struct Decoded {
  Refusal refusal = Refusal::None;
  Message message;  // meaningful only when refusal is None
  explicit operator bool() const { return refusal == Refusal::None; }
};

// Encodes a message. A message that the decoder would refuse (a save type
// other than 0 or 1, an applied location over 128 characters) is encoded all the same, so
// tests can send it; Validate says whether the peer will accept it.
std::vector<std::byte> Encode(const Message& message);
Refusal Validate(const Message& message);

// Decodes one whole pipe message sent by `from`.
Decoded Decode(std::span<const std::byte> bytes, Sender from);

}  // namespace pw::agent
