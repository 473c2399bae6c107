// The simulator's FIFO port, as the scanner driver of the Wine world sees it:
// framed requests in, framed replies out, control lines that plug, queue and
// garble, and refusals of what does not fit.
#include "tools/scanner-sim/FifoPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/StorageDevice.h"
#include "scanner/PassThroughBuffer.h"
#include "scanner/ScannerChannel.h"
#include "tools/scanner-driver/ScannerWire.h"

namespace pw::test {
namespace {

namespace fs = std::filesystem;

struct Reply {
  std::uint32_t magic = 0;
  std::uint32_t sequence = 0;
  std::uint32_t status = 0;
  std::vector<std::byte> bytes;
};

class FifoPortTest : public ::testing::Test {
 protected:
  FifoPortTest() : folder_(fs::temp_directory_path() / ("pagewick-fifo-" + std::to_string(::getpid()))) {
    fs::remove_all(folder_);
    port_ = std::make_unique<sim::FifoPort>(folder_);
    server_ = std::thread([this] {
      port_->Serve();
      serving_.store(false);
    });
    request_ = ::open((folder_ / "request").c_str(), O_WRONLY | O_CLOEXEC);
    reply_ = ::open((folder_ / "reply").c_str(), O_RDONLY | O_CLOEXEC);
  }
  ~FifoPortTest() override {
    port_->Stop();
    server_.join();
    ::close(request_);
    ::close(reply_);
    port_.reset();
    fs::remove_all(folder_);
  }

  void Send(std::uint32_t code, const std::vector<std::byte>& input, std::uint32_t capacity,
            std::uint32_t magic = PW_WIRE_REQUEST_MAGIC) {
    unsigned char header[PW_WIRE_REQUEST_HEADER_SIZE];
    PwWirePut(header, PW_WIRE_REQUEST_MAGIC_AT, magic);
    PwWirePut(header, PW_WIRE_REQUEST_SEQUENCE_AT, ++sequence_);
    PwWirePut(header, PW_WIRE_REQUEST_CODE_AT, code);
    PwWirePut(header, PW_WIRE_REQUEST_INPUT_AT, static_cast<std::uint32_t>(input.size()));
    PwWirePut(header, PW_WIRE_REQUEST_CAPACITY_AT, capacity);
    ASSERT_EQ(::write(request_, header, sizeof header), static_cast<ssize_t>(sizeof header));
    if (!input.empty()) {
      ASSERT_EQ(::write(request_, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    }
  }

  // Reads exactly size bytes within 5 s; false on a deadline or an error.
  bool ReadExactly(void* data, std::size_t size) {
    auto* at = static_cast<unsigned char*>(data);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (size > 0) {
      pollfd waiting{reply_, POLLIN, 0};
      if (std::chrono::steady_clock::now() > deadline || ::poll(&waiting, 1, 100) < 0) return false;
      if ((waiting.revents & POLLIN) == 0) continue;
      const ssize_t got = ::read(reply_, at, size);
      if (got <= 0) return false;
      at += got;
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }

  std::optional<Reply> Receive() {
    unsigned char header[PW_WIRE_REPLY_HEADER_SIZE];
    if (!ReadExactly(header, sizeof header)) return std::nullopt;
    Reply reply{PwWireGet(header, PW_WIRE_REPLY_MAGIC_AT), PwWireGet(header, PW_WIRE_REPLY_SEQUENCE_AT),
                PwWireGet(header, PW_WIRE_REPLY_STATUS_AT), {}};
    reply.bytes.resize(PwWireGet(header, PW_WIRE_REPLY_COUNT_AT));
    if (!reply.bytes.empty() && !ReadExactly(reply.bytes.data(), reply.bytes.size())) return std::nullopt;
    return reply;
  }

  std::string Control(const std::string& line) {
    Send(PW_WIRE_SIMULATOR_CONTROL, std::vector<std::byte>(reinterpret_cast<const std::byte*>(line.data()),
                                                           reinterpret_cast<const std::byte*>(line.data()) + line.size()),
         4096);
    const std::optional<Reply> reply = Receive();
    if (!reply) return "no reply";
    return std::string(reinterpret_cast<const char*>(reply->bytes.data()), reply->bytes.size());
  }

  // The 44-byte header of a request the program sends.
  static std::vector<std::byte> PassThrough(scanner::ScannerCommand command, std::uint32_t argument = 0) {
    scanner::PassThroughBuffer buffer;
    const scanner::CommandLayout layout = scanner::LayoutOf(command, argument);
    // Length, a little-endian USHORT: 44.
    buffer.PutByte(scanner::pass_through::kLengthAt, 44);
    buffer.PutByte(scanner::pass_through::kLengthAt + 1, 0);
    buffer.PutByte(scanner::pass_through::kCdbLengthAt, 6);
    buffer.PutByte(scanner::pass_through::kDataInAt, 1);
    buffer.PutByte(scanner::pass_through::kSenseInfoLengthAt, layout.senseInfoLength);
    buffer.PutWord32(scanner::pass_through::kDataTransferLengthAt, layout.dataTransferLength);
    buffer.PutWord32(scanner::pass_through::kDataBufferOffsetAt, 80);
    buffer.PutWord32(scanner::pass_through::kSenseInfoOffsetAt, 48);
    for (std::size_t i = 0; i < layout.cdb.size(); ++i) buffer.PutByte(scanner::pass_through::kCdbAt + i, layout.cdb[i]);
    const auto bytes = buffer.Bytes();
    return {bytes.begin(), bytes.begin() + 44};
  }

  fs::path folder_;
  std::unique_ptr<sim::FifoPort> port_;
  std::thread server_;
  int request_ = -1;
  int reply_ = -1;
  std::uint32_t sequence_ = 0;
  std::atomic<bool> serving_{true};
};

TEST_F(FifoPortTest, AnswersEachRequestWithItsSequenceAndNoMoreThanItsCapacity) {
  ASSERT_EQ(Control("plug --mode computer --image-size 1000"), "ok images 1");
  Send(platform::kIoctlScsiPassThrough, PassThrough(scanner::ScannerCommand::LengthQueryCommand, 0), 84);
  std::optional<Reply> reply = Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->magic, PW_WIRE_REPLY_MAGIC);
  EXPECT_EQ(reply->sequence, sequence_);
  EXPECT_EQ(reply->status, 0u);
  ASSERT_LE(reply->bytes.size(), 84u);
  ASSERT_GE(reply->bytes.size(), 84u) << "the header, sense area and the four length bytes come back";
  EXPECT_EQ(reply->bytes[82], std::byte{0x03});  // 1000 = 00 00 03 E8
  EXPECT_EQ(reply->bytes[83], std::byte{0xE8});

  Send(platform::kIoctlScsiPassThrough, PassThrough(scanner::ScannerCommand::ChunkReadCommand, 1000), 1080);
  reply = Receive();
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->bytes.size(), 1080u);
  std::ifstream saved(folder_ / "images" / "0001.jpg", std::ios::binary);
  std::vector<char> image((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
  ASSERT_EQ(image.size(), 1000u) << "the queued image was saved for comparison";
  EXPECT_EQ(std::memcmp(reply->bytes.data() + 80, image.data(), image.size()), 0);
}

TEST_F(FifoPortTest, AnEmptyPortAndAnOversizedRequestFailWithTheirErrors) {
  ASSERT_EQ(Control("unplug"), "ok");
  Send(platform::kIoctlStorageQueryProperty, std::vector<std::byte>(12), 551);
  std::optional<Reply> reply = Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 1167u) << "ERROR_DEVICE_NOT_CONNECTED";
  EXPECT_TRUE(reply->bytes.empty()) << "a failure carries no bytes";

  ASSERT_EQ(Control("plug"), "ok images");
  Send(platform::kIoctlStorageQueryProperty, std::vector<std::byte>(12), PW_WIRE_MAX_PAYLOAD + 1);
  reply = Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 87u) << "ERROR_INVALID_PARAMETER";
  EXPECT_EQ(Control("status").rfind("ok plugged 1", 0), 0u) << "the port goes on";
}

TEST_F(FifoPortTest, ControlLinesQueueCountAndRefuseWhatTheyDoNotKnow) {
  EXPECT_EQ(Control("plug --picture 8 --plain-picture"), "ok images 1 2");
  EXPECT_EQ(Control("queue --image-size 10"), "ok images 3");
  EXPECT_NE(Control("status").find(" queued 3 "), std::string::npos) << Control("status");
  EXPECT_EQ(Control("queue --bogus").rfind("error: unknown option --bogus", 0), 0u);
  EXPECT_EQ(Control("queue --chunk fixed:x").rfind("error:", 0), 0u);
  EXPECT_EQ(Control("queue --picture").rfind("error: missing value", 0), 0u);
  EXPECT_EQ(Control("dance").rfind("error: unknown command", 0), 0u);
  EXPECT_EQ(Control(""), "error: empty control line");
  EXPECT_EQ(Control("unplug"), "ok");
  EXPECT_EQ(Control("queue --image-size 10"), "error: nothing plugged");
}

TEST_F(FifoPortTest, GarbledRepliesAreWhatTheDriverMustRefuse) {
  ASSERT_EQ(Control("plug"), "ok images");
  ASSERT_EQ(Control("garble count"), "ok");
  Send(platform::kIoctlScsiPassThrough, PassThrough(scanner::ScannerCommand::InquiryRequest), 160);
  std::optional<Reply> reply = Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 0u);
  EXPECT_EQ(reply->bytes.size(), 176u) << "more than the 160 bytes asked for";

  ASSERT_EQ(Control("garble sequence"), "ok");
  Send(platform::kIoctlScsiPassThrough, PassThrough(scanner::ScannerCommand::InquiryRequest), 160);
  reply = Receive();
  ASSERT_TRUE(reply);
  EXPECT_NE(reply->sequence, sequence_);

  ASSERT_EQ(Control("garble magic"), "ok");
  Send(platform::kIoctlScsiPassThrough, PassThrough(scanner::ScannerCommand::InquiryRequest), 160);
  reply = Receive();
  ASSERT_TRUE(reply);
  EXPECT_NE(reply->magic, PW_WIRE_REPLY_MAGIC);
  // Only the next reply is garbled.
  Send(platform::kIoctlScsiPassThrough, PassThrough(scanner::ScannerCommand::InquiryRequest), 160);
  reply = Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->magic, PW_WIRE_REPLY_MAGIC);
  EXPECT_EQ(reply->sequence, sequence_);
}

TEST_F(FifoPortTest, AMalformedRequestEndsTheServingInsteadOfGuessing) {
  Send(platform::kIoctlScsiPassThrough, PassThrough(scanner::ScannerCommand::InquiryRequest), 160, 0x12345678u);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (serving_.load() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(serving_.load()) << "the port stopped serving";
  pollfd waiting{reply_, POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "no reply to a frame that cannot be trusted";
}

}  // namespace
}  // namespace pw::test
