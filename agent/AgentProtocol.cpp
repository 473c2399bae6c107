#include "agent/AgentProtocol.h"

#include <limits>
#include <optional>
#include <type_traits>

namespace pw::agent {
namespace {

class Writer {
 public:
  void Word(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<std::byte>((value >> shift) & 0xFFu));
  }
  void Flag(bool value) { bytes_.push_back(static_cast<std::byte>(value ? 1 : 0)); }
  void Text(std::string_view text) {
    // Texts longer than a u16 count cannot be sent; they are cut, and such a
    // text is over the path limit anyway, so the peer refuses it.
    const std::size_t length = std::min<std::size_t>(text.size(), std::numeric_limits<std::uint16_t>::max());
    bytes_.push_back(static_cast<std::byte>(length & 0xFFu));
    bytes_.push_back(static_cast<std::byte>((length >> 8) & 0xFFu));
    for (std::size_t i = 0; i < length; ++i) bytes_.push_back(static_cast<std::byte>(text[i]));
  }
  std::vector<std::byte> Finish(MessageType type) && {
    std::vector<std::byte> message;
    message.reserve(kHeaderSize + bytes_.size());
    Writer header;
    header.Word(static_cast<std::uint32_t>(type));
    header.Word(static_cast<std::uint32_t>(bytes_.size()));
    message.insert(message.end(), header.bytes_.begin(), header.bytes_.end());
    message.insert(message.end(), bytes_.begin(), bytes_.end());
    return message;
  }

 private:
  std::vector<std::byte> bytes_;
};

class Reader {
 public:
  explicit Reader(std::span<const std::byte> bytes) : bytes_(bytes) {}

  std::optional<std::uint32_t> Word() {
    if (bytes_.size() - offset_ < 4) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | std::to_integer<std::uint32_t>(bytes_[offset_ + static_cast<std::size_t>(i)]);
    offset_ += 4;
    return value;
  }
  std::optional<std::uint8_t> Byte() {
    if (offset_ == bytes_.size()) return std::nullopt;
    return std::to_integer<std::uint8_t>(bytes_[offset_++]);
  }
  std::optional<std::string> Text() {
    if (bytes_.size() - offset_ < 2) return std::nullopt;
    const std::size_t length =
        std::to_integer<std::size_t>(bytes_[offset_]) | (std::to_integer<std::size_t>(bytes_[offset_ + 1]) << 8);
    offset_ += 2;
    if (bytes_.size() - offset_ < length) return std::nullopt;
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(bytes_[offset_ + i]);
    offset_ += length;
    return text;
  }
  bool AtEnd() const { return offset_ == bytes_.size(); }

 private:
  std::span<const std::byte> bytes_;
  std::size_t offset_ = 0;
};

// Checks of single fields, shared by Validate and Decode.
Refusal CheckSaveType(std::uint32_t saveType) { return saveType <= 1 ? Refusal::None : Refusal::BadSaveType; }

Refusal CheckPath(std::string_view path, bool mayBeEmpty, std::size_t maxLength) {
  if (path.size() > maxLength) return Refusal::PathTooLong;
  if (path.find('\0') != std::string_view::npos) return Refusal::BadPath;
  if (path.empty() && !mayBeEmpty) return Refusal::BadPath;
  return Refusal::None;
}

Refusal CheckNoticeKind(NoticeKind kind) {
  switch (kind) {
    case NoticeKind::DiskFull:
    case NoticeKind::PathTooLong:
    case NoticeKind::PictureIncomplete:
    case NoticeKind::CannotSave:
    case NoticeKind::LocationRefused:
    case NoticeKind::SwitchedToDefault:
      return Refusal::None;
  }
  return Refusal::BadNoticeKind;
}

Refusal CheckReason(NoticeKind kind, std::uint32_t reason) {
  if (!NoticeHasReason(kind)) return reason == 0 ? Refusal::None : Refusal::BadReason;
  return reason >= kMinLocationReason && reason <= kMaxLocationReason ? Refusal::None : Refusal::BadReason;
}

// A notice names a path exactly when its kind does.
Refusal CheckNotice(NoticeKind kind, std::string_view path) {
  if (Refusal r = CheckNoticeKind(kind); r != Refusal::None) return r;
  if (!NoticeHasPath(kind)) return path.empty() ? Refusal::None : Refusal::BadPath;
  return CheckPath(path, false, kMaxServicePathLength);
}

bool SentBy(MessageType type, Sender from) {
  switch (type) {
    case MessageType::Apply:
    case MessageType::NoticeClosed:
      return from == Sender::Agent;
    case MessageType::Exit:
      return true;
    case MessageType::State:
    case MessageType::ShowPage:
    case MessageType::Notify:
    case MessageType::OpenFolder:
      return from == Sender::Service;
  }
  return false;
}

bool KnownType(std::uint32_t type) {
  return type >= static_cast<std::uint32_t>(MessageType::State) && type <= static_cast<std::uint32_t>(MessageType::NoticeClosed);
}

Decoded Refuse(Refusal refusal) { return Decoded{refusal, {}}; }

// Reads a 0/1 flag into `out`; the refusal when it is missing or another value.
Refusal ReadFlag(Reader& reader, bool& out) {
  const std::optional<std::uint8_t> value = reader.Byte();
  if (!value) return Refusal::Truncated;
  if (*value > 1) return Refusal::BadBoolean;
  out = *value == 1;
  return Refusal::None;
}

Decoded DecodeBody(MessageType type, Reader& reader) {
  Refusal refusal = Refusal::None;
  auto word = [&](std::uint32_t& out) {
    if (refusal != Refusal::None) return;
    if (auto value = reader.Word()) out = *value; else refusal = Refusal::Truncated;
  };
  auto rawText = [&](std::string& out) {
    if (refusal != Refusal::None) return;
    if (auto value = reader.Text()) out = std::move(*value); else refusal = Refusal::Truncated;
  };
  auto text = [&](std::string& out, bool mayBeEmpty, std::size_t maxLength) {
    rawText(out);
    if (refusal == Refusal::None) refusal = CheckPath(out, mayBeEmpty, maxLength);
  };
  auto flag = [&](bool& out) {
    if (refusal == Refusal::None) refusal = ReadFlag(reader, out);
  };

  Message message;
  switch (type) {
    case MessageType::State: {
      StateMessage state;
      word(state.saveType);
      if (refusal == Refusal::None) refusal = CheckSaveType(state.saveType);
      text(state.saveLocation, true, kMaxServicePathLength);
      flag(state.autoRotate);
      flag(state.scannerAttached);
      flag(state.mayChange);
      message = std::move(state);
      break;
    }
    case MessageType::Apply: {
      ApplyMessage apply;
      word(apply.saveType);
      if (refusal == Refusal::None) refusal = CheckSaveType(apply.saveType);
      text(apply.saveLocation, true, kMaxPathLength);
      flag(apply.autoRotate);
      message = std::move(apply);
      break;
    }
    case MessageType::ShowPage:
      message = ShowPageMessage{};
      break;
    case MessageType::Notify: {
      std::uint32_t kind = 0;
      word(kind);
      if (refusal == Refusal::None) refusal = CheckNoticeKind(static_cast<NoticeKind>(kind));
      NotifyMessage notify{static_cast<NoticeKind>(kind), {}, 0};
      rawText(notify.path);
      if (refusal == Refusal::None) refusal = CheckNotice(notify.kind, notify.path);
      if (refusal == Refusal::None && NoticeHasReason(notify.kind)) word(notify.reason);
      if (refusal == Refusal::None) refusal = CheckReason(notify.kind, notify.reason);
      message = std::move(notify);
      break;
    }
    case MessageType::NoticeClosed: {
      std::uint32_t kind = 0;
      word(kind);
      if (refusal == Refusal::None) refusal = CheckNoticeKind(static_cast<NoticeKind>(kind));
      message = NoticeClosedMessage{static_cast<NoticeKind>(kind)};
      break;
    }
    case MessageType::OpenFolder: {
      OpenFolderMessage open;
      text(open.path, false, kMaxServicePathLength);
      message = std::move(open);
      break;
    }
    case MessageType::Exit:
      message = ExitMessage{};
      break;
  }
  if (refusal != Refusal::None) return Refuse(refusal);
  if (!reader.AtEnd()) return Refuse(Refusal::TrailingBytes);
  return Decoded{Refusal::None, std::move(message)};
}

}  // namespace

MessageType TypeOf(const Message& message) {
  return std::visit(
      [](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, StateMessage>) return MessageType::State;
        else if constexpr (std::is_same_v<T, ApplyMessage>) return MessageType::Apply;
        else if constexpr (std::is_same_v<T, ShowPageMessage>) return MessageType::ShowPage;
        else if constexpr (std::is_same_v<T, NotifyMessage>) return MessageType::Notify;
        else if constexpr (std::is_same_v<T, OpenFolderMessage>) return MessageType::OpenFolder;
        else if constexpr (std::is_same_v<T, NoticeClosedMessage>) return MessageType::NoticeClosed;
        else return MessageType::Exit;
      },
      message);
}

std::string_view RefusalText(Refusal refusal) {
  switch (refusal) {
    case Refusal::None: return "accepted";
    case Refusal::ShortHeader: return "message shorter than its header";
    case Refusal::TooLarge: return "message too large";
    case Refusal::LengthMismatch: return "message length does not match its header";
    case Refusal::UnknownType: return "unknown message type";
    case Refusal::WrongSender: return "message type not expected from this sender";
    case Refusal::Truncated: return "message ends inside a field";
    case Refusal::TrailingBytes: return "bytes after the last field";
    case Refusal::BadSaveType: return "save type is neither 0 nor 1";
    case Refusal::BadBoolean: return "flag is neither 0 nor 1";
    case Refusal::PathTooLong: return "path longer than 128 characters (one the service sends: 259)";
    case Refusal::BadPath: return "path is empty where one is needed, given where none is, or holds a NUL character";
    case Refusal::BadNoticeKind: return "unknown notice";
    case Refusal::BadReason: return "a refused location's reason is unknown, or a notice of another kind has one";
  }
  return "unknown refusal";
}

std::vector<std::byte> Encode(const Message& message) {
  Writer writer;
  std::visit(
      [&](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, StateMessage>) {
          writer.Word(m.saveType);
          writer.Text(m.saveLocation);
          writer.Flag(m.autoRotate);
          writer.Flag(m.scannerAttached);
          writer.Flag(m.mayChange);
        } else if constexpr (std::is_same_v<T, ApplyMessage>) {
          writer.Word(m.saveType);
          writer.Text(m.saveLocation);
          writer.Flag(m.autoRotate);
        } else if constexpr (std::is_same_v<T, NotifyMessage>) {
          writer.Word(static_cast<std::uint32_t>(m.kind));
          writer.Text(m.path);
          if (NoticeHasReason(m.kind)) writer.Word(m.reason);
        } else if constexpr (std::is_same_v<T, NoticeClosedMessage>) {
          writer.Word(static_cast<std::uint32_t>(m.kind));
        } else if constexpr (std::is_same_v<T, OpenFolderMessage>) {
          writer.Text(m.path);
        }
      },
      message);
  return std::move(writer).Finish(TypeOf(message));
}

Refusal Validate(const Message& message) {
  return std::visit(
      [](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, StateMessage> || std::is_same_v<T, ApplyMessage>) {
          if (Refusal r = CheckSaveType(m.saveType); r != Refusal::None) return r;
          return CheckPath(m.saveLocation, true,
                           std::is_same_v<T, StateMessage> ? kMaxServicePathLength : kMaxPathLength);
        } else if constexpr (std::is_same_v<T, NotifyMessage>) {
          if (Refusal r = CheckNotice(m.kind, m.path); r != Refusal::None) return r;
          return CheckReason(m.kind, m.reason);
        } else if constexpr (std::is_same_v<T, NoticeClosedMessage>) {
          return CheckNoticeKind(m.kind);
        } else if constexpr (std::is_same_v<T, OpenFolderMessage>) {
          return CheckPath(m.path, false, kMaxServicePathLength);
        } else {
          return Refusal::None;
        }
      },
      message);
}

Decoded Decode(std::span<const std::byte> bytes, Sender from) {
  if (bytes.size() > kMaxMessageSize) return Refuse(Refusal::TooLarge);
  Reader header(bytes);
  const std::optional<std::uint32_t> type = header.Word();
  const std::optional<std::uint32_t> length = header.Word();
  if (!type || !length) return Refuse(Refusal::ShortHeader);
  if (*length > kMaxMessageSize - kHeaderSize) return Refuse(Refusal::TooLarge);
  if (*length != bytes.size() - kHeaderSize) return Refuse(Refusal::LengthMismatch);
  if (!KnownType(*type)) return Refuse(Refusal::UnknownType);
  const auto messageType = static_cast<MessageType>(*type);
  if (!SentBy(messageType, from)) return Refuse(Refusal::WrongSender);
  Reader body(bytes.subspan(kHeaderSize));
  return DecodeBody(messageType, body);
}

}  // namespace pw::agent
