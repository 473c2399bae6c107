#include "agent/AgentProtocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace pw::agent {
namespace {

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
  std::vector<std::byte> bytes;
  for (int value : values) bytes.push_back(static_cast<std::byte>(value));
  return bytes;
}

// A header followed by a body given byte by byte.
std::vector<std::byte> Framed(std::uint32_t type, std::vector<std::byte> body) {
  std::vector<std::byte> bytes = Bytes({int(type & 0xFF), int(type >> 8 & 0xFF), int(type >> 16 & 0xFF), int(type >> 24),
                                        int(body.size() & 0xFF), int(body.size() >> 8 & 0xFF), 0, 0});
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

std::vector<std::byte> TextField(const std::string& text) {
  std::vector<std::byte> bytes = Bytes({int(text.size() & 0xFF), int(text.size() >> 8 & 0xFF)});
  for (char c : text) bytes.push_back(static_cast<std::byte>(c));
  return bytes;
}

std::vector<std::byte> Concat(std::initializer_list<std::vector<std::byte>> parts) {
  std::vector<std::byte> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(AgentProtocol, EncodesTheWireLayoutLittleEndian) {
  const std::vector<std::byte> bytes = Encode(ApplyMessage{1, "D:\\Scans", true});
  EXPECT_EQ(bytes, Concat({Bytes({2, 0, 0, 0, 15, 0, 0, 0, 1, 0, 0, 0}), TextField("D:\\Scans"), Bytes({1})}));
}

TEST(AgentProtocol, EveryMessageSurvivesTheRoundTrip) {
  const std::string longest(kMaxPathLength, 'p');
  const std::string longestOfService(kMaxServicePathLength, 'k');
  const std::vector<std::pair<Message, Sender>> cases = {
      {StateMessage{0, "", false, false}, Sender::Service},
      {StateMessage{1, longest, true, true}, Sender::Service},
      {StateMessage{1, longestOfService, true, true}, Sender::Service},
      {StateMessage{1, "C:\\Scans", false, false, true}, Sender::Service},
      {StateMessage{0, longestOfService, true, true, true}, Sender::Service},
      {ApplyMessage{0, "C:\\Users\\ann\\Pictures", false}, Sender::Agent},
      {ApplyMessage{1, longest, true}, Sender::Agent},
      {ShowPageMessage{}, Sender::Service},
      {NotifyMessage{NoticeKind::DiskFull, {}}, Sender::Service},
      {NotifyMessage{NoticeKind::PathTooLong, {}}, Sender::Service},
      {NotifyMessage{NoticeKind::PictureIncomplete, "C:\\Scans\\0001\\img0001.partial"}, Sender::Service},
      {NotifyMessage{NoticeKind::PictureIncomplete, longestOfService}, Sender::Service},
      {NotifyMessage{NoticeKind::CannotSave, "C:\\temp"}, Sender::Service},
      {NotifyMessage{NoticeKind::SwitchedToDefault, "C:\\Users\\Public\\Pictures"}, Sender::Service},
      {NotifyMessage{NoticeKind::SwitchedToDefault, longestOfService}, Sender::Service},
      {NotifyMessage{NoticeKind::LocationRefused, {}, kMinLocationReason}, Sender::Service},
      {NotifyMessage{NoticeKind::LocationRefused, {}, kMaxLocationReason}, Sender::Service},
      {NoticeClosedMessage{NoticeKind::DiskFull}, Sender::Agent},
      {NoticeClosedMessage{NoticeKind::CannotSave}, Sender::Agent},
      {OpenFolderMessage{"C:\\Scans\\Photo1"}, Sender::Service},
      {OpenFolderMessage{longestOfService}, Sender::Service},
      {ExitMessage{}, Sender::Service},
      {ExitMessage{}, Sender::Agent},
  };
  for (const auto& [message, from] : cases) {
    SCOPED_TRACE(static_cast<int>(TypeOf(message)));
    ASSERT_EQ(Validate(message), Refusal::None);
    const std::vector<std::byte> bytes = Encode(message);
    EXPECT_LE(bytes.size(), kMaxMessageSize);
    const Decoded decoded = Decode(bytes, from);
    ASSERT_EQ(decoded.refusal, Refusal::None) << RefusalText(decoded.refusal);
    EXPECT_EQ(decoded.message, message);
  }
}

TEST(AgentProtocol, RefusesEveryMalformedMessage) {
  const auto apply = [](std::vector<std::byte> tail) {
    return Framed(2, Concat({Bytes({1, 0, 0, 0}), TextField("C:\\a"), std::move(tail)}));
  };
  struct Case {
    const char* what;
    std::vector<std::byte> bytes;
    Sender from;
    Refusal refusal;
  };
  const std::vector<Case> cases = {
      {"empty", {}, Sender::Agent, Refusal::ShortHeader},
      {"half a header", Bytes({2, 0, 0, 0, 0, 0}), Sender::Agent, Refusal::ShortHeader},
      // A length field of 4 GB must be refused before anything is allocated.
      {"huge length", Bytes({2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), Sender::Agent, Refusal::TooLarge},
      {"oversized message", Framed(2, std::vector<std::byte>(kMaxMessageSize, std::byte{0})), Sender::Agent,
       Refusal::TooLarge},
      {"length beyond the bytes", Bytes({6, 0, 0, 0, 4, 0, 0, 0}), Sender::Agent, Refusal::LengthMismatch},
      {"length short of the bytes", Bytes({6, 0, 0, 0, 0, 0, 0, 0, 9}), Sender::Agent, Refusal::LengthMismatch},
      {"type 0", Framed(0, {}), Sender::Agent, Refusal::UnknownType},
      {"type 8", Framed(8, {}), Sender::Agent, Refusal::UnknownType},
      {"type with high bits", Framed(0x80000002u, {}), Sender::Agent, Refusal::UnknownType},
      {"state from an agent", Encode(StateMessage{}), Sender::Agent, Refusal::WrongSender},
      {"open folder from an agent", Encode(OpenFolderMessage{"C:\\"}), Sender::Agent, Refusal::WrongSender},
      {"apply from the service", Encode(ApplyMessage{}), Sender::Service, Refusal::WrongSender},
      {"apply without its flag", apply({}), Sender::Agent, Refusal::Truncated},
      {"apply without a text", Framed(2, Bytes({1, 0, 0, 0})), Sender::Agent, Refusal::Truncated},
      {"text count past the end", Framed(2, Concat({Bytes({1, 0, 0, 0, 9, 0}), Bytes({'C', ':'})})), Sender::Agent,
       Refusal::Truncated},
      {"save type in three bytes", Framed(2, Bytes({1, 0, 0})), Sender::Agent, Refusal::Truncated},
      {"byte after the last field", apply(Bytes({1, 0})), Sender::Agent, Refusal::TrailingBytes},
      {"body on an exit", Framed(6, Bytes({0})), Sender::Agent, Refusal::TrailingBytes},
      {"save type 2", Encode(ApplyMessage{2, "C:\\a", false}), Sender::Agent, Refusal::BadSaveType},
      {"save type with high bits", Encode(ApplyMessage{0x100u, "C:\\a", false}), Sender::Agent, Refusal::BadSaveType},
      {"flag 2", apply(Bytes({2})), Sender::Agent, Refusal::BadBoolean},
      {"flag 0xFF", apply(Bytes({0xFF})), Sender::Agent, Refusal::BadBoolean},
      {"state's second flag 2", Framed(1, Concat({Bytes({0, 0, 0, 0}), TextField(""), Bytes({1, 2, 0})})),
       Sender::Service, Refusal::BadBoolean},
      {"state's may-change flag 2", Framed(1, Concat({Bytes({0, 0, 0, 0}), TextField(""), Bytes({1, 0, 2})})),
       Sender::Service, Refusal::BadBoolean},
      // A state without the may-change flag (an older service's) is refused
      // rather than read as either answer.
      {"state without its may-change flag", Framed(1, Concat({Bytes({0, 0, 0, 0}), TextField(""), Bytes({1, 0})})),
       Sender::Service, Refusal::Truncated},
      // An applied location passes with 128 characters (the round-trip test)
      // and not with one more; a path the service sends, with 259 and not 260.
      {"applied location of 129 characters", Encode(ApplyMessage{1, std::string(129, 'x'), false}), Sender::Agent,
       Refusal::PathTooLong},
      {"location in force of 260 characters", Encode(StateMessage{1, std::string(260, 'x'), false, false}),
       Sender::Service, Refusal::PathTooLong},
      {"folder path of 260 characters", Encode(OpenFolderMessage{std::string(260, 'x')}), Sender::Service,
       Refusal::PathTooLong},
      {"NUL inside a path", Encode(ApplyMessage{1, std::string("C:\\a\0b", 6), false}), Sender::Agent,
       Refusal::BadPath},
      {"empty folder path", Encode(OpenFolderMessage{""}), Sender::Service, Refusal::BadPath},
      {"notice 0", Framed(4, Concat({Bytes({0, 0, 0, 0}), TextField("")})), Sender::Service, Refusal::BadNoticeKind},
      {"notice 7", Framed(4, Concat({Bytes({7, 0, 0, 0}), TextField("")})), Sender::Service, Refusal::BadNoticeKind},
      {"switch to the default location without its folder", Encode(NotifyMessage{NoticeKind::SwitchedToDefault, ""}),
       Sender::Service, Refusal::BadPath},
      {"switch to a default folder of 260 characters",
       Encode(NotifyMessage{NoticeKind::SwitchedToDefault, std::string(260, 'd')}), Sender::Service,
       Refusal::PathTooLong},
      {"refused location without its reason", Framed(4, Concat({Bytes({5, 0, 0, 0}), TextField("")})),
       Sender::Service, Refusal::Truncated},
      {"refused location for reason 0", Encode(NotifyMessage{NoticeKind::LocationRefused, {}, 0}), Sender::Service,
       Refusal::BadReason},
      {"refused location for a reason past the last",
       Encode(NotifyMessage{NoticeKind::LocationRefused, {}, kMaxLocationReason + 1}), Sender::Service,
       Refusal::BadReason},
      {"refused location naming a path", Encode(NotifyMessage{NoticeKind::LocationRefused, "C:\\x", 2}),
       Sender::Service, Refusal::BadPath},
      {"disk-full notice with a reason word", Framed(4, Concat({Bytes({1, 0, 0, 0}), TextField(""), Bytes({1, 0, 0, 0})})),
       Sender::Service, Refusal::TrailingBytes},
      {"notice without its path field", Framed(4, Bytes({1, 0, 0, 0})), Sender::Service, Refusal::Truncated},
      {"disk-full notice with a path", Encode(NotifyMessage{NoticeKind::DiskFull, "C:\\"}), Sender::Service,
       Refusal::BadPath},
      {"incomplete picture without its file", Encode(NotifyMessage{NoticeKind::PictureIncomplete, ""}),
       Sender::Service, Refusal::BadPath},
      {"kept file of 260 characters", Encode(NotifyMessage{NoticeKind::PictureIncomplete, std::string(260, 'k')}),
       Sender::Service, Refusal::PathTooLong},
      {"NUL inside a location", Encode(NotifyMessage{NoticeKind::CannotSave, std::string("C:\\a\0b", 6)}),
       Sender::Service, Refusal::BadPath},
      {"notice from an agent", Encode(NotifyMessage{}), Sender::Agent, Refusal::WrongSender},
      {"closed notice from the service", Encode(NoticeClosedMessage{}), Sender::Service, Refusal::WrongSender},
      {"closed notice 9", Framed(7, Bytes({9, 0, 0, 0})), Sender::Agent, Refusal::BadNoticeKind},
      {"closed notice with a path", Framed(7, Concat({Bytes({1, 0, 0, 0}), TextField("C:")})), Sender::Agent,
       Refusal::TrailingBytes},
  };
  for (const Case& c : cases) {
    const Decoded decoded = Decode(c.bytes, c.from);
    EXPECT_EQ(decoded.refusal, c.refusal) << c.what << ": " << RefusalText(decoded.refusal);
    EXPECT_FALSE(decoded) << c.what;
  }
}

TEST(AgentProtocol, ValidateAgreesWithTheDecoder) {
  EXPECT_EQ(Validate(ApplyMessage{2, "C:\\", false}), Refusal::BadSaveType);
  EXPECT_EQ(Validate(ApplyMessage{0, std::string(129, 'a'), false}), Refusal::PathTooLong);
  EXPECT_EQ(Validate(StateMessage{0, std::string(129, 'a'), false, false}), Refusal::None);
  EXPECT_EQ(Validate(StateMessage{0, std::string(260, 'a'), false, false}), Refusal::PathTooLong);
  EXPECT_EQ(Validate(OpenFolderMessage{std::string(260, 'a')}), Refusal::PathTooLong);
  EXPECT_EQ(Validate(OpenFolderMessage{""}), Refusal::BadPath);
  EXPECT_EQ(Validate(NotifyMessage{static_cast<NoticeKind>(9), {}}), Refusal::BadNoticeKind);
  EXPECT_EQ(Validate(NotifyMessage{NoticeKind::DiskFull, "C:\\"}), Refusal::BadPath);
  EXPECT_EQ(Validate(NotifyMessage{NoticeKind::CannotSave, ""}), Refusal::BadPath);
  EXPECT_EQ(Validate(NotifyMessage{NoticeKind::DiskFull, {}, 3}), Refusal::BadReason);
  EXPECT_EQ(Validate(NotifyMessage{NoticeKind::LocationRefused, {}, kMaxLocationReason + 1}), Refusal::BadReason);
  EXPECT_EQ(Validate(NoticeClosedMessage{static_cast<NoticeKind>(0)}), Refusal::BadNoticeKind);
  EXPECT_EQ(Validate(ExitMessage{}), Refusal::None);
}

TEST(AgentProtocol, EveryRefusalHasItsOwnText) {
  std::vector<std::string_view> texts;
  for (int r = static_cast<int>(Refusal::None); r <= static_cast<int>(Refusal::BadNoticeKind); ++r) {
    const std::string_view text = RefusalText(static_cast<Refusal>(r));
    EXPECT_FALSE(text.empty());
    for (std::string_view seen : texts) EXPECT_NE(text, seen);
    texts.push_back(text);
  }
}

}  // namespace
}  // namespace pw::agent
