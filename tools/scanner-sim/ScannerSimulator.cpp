#include "tools/scanner-sim/ScannerSimulator.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/ByteOrder.h"
#include "platform/hostworld/DeviceSocket.h"
#include "platform/hostworld/SynchronousIo.h"

namespace pw::sim {
namespace error = platform::error;
using platform::GetLe16;
using platform::GetLe32;
using platform::PutLe32;
using platform::IoControlResult;

namespace {

constexpr std::size_t kHeaderSize = 44;
constexpr std::size_t kDescriptorFixedPart = 40;
constexpr std::uint8_t kCheckCondition = 0x02;
constexpr std::uint8_t kSenseIllegalRequest = 0x05;
constexpr std::uint32_t kLargestChunk = 524288;

void PutBigEndian(std::span<std::byte> bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::byte>((value >> (8 * (3 - i))) & 0xFFu);
}

void PutText(std::span<std::byte> bytes, std::size_t at, std::string_view text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    bytes[at + i] = static_cast<std::byte>(i < text.size() ? static_cast<unsigned char>(text[i]) : ' ');
  }
}

RequestKind KindOfOperation(std::uint8_t operation) {
  switch (operation) {
    case 0x12: return RequestKind::Inquiry;
    case 0x55: return RequestKind::CardMode;
    case 0x54: return RequestKind::ComputerMode;
    case 0x52: return RequestKind::LengthQuery;
    case 0x53: return RequestKind::ChunkRead;
    default: return RequestKind::Other;
  }
}

// The pass-through header fields the device looks at.
struct Header {
  std::uint16_t length = 0;
  std::uint8_t cdbLength = 0;
  std::uint8_t senseInfoLength = 0;
  std::uint32_t dataTransferLength = 0;
  std::uint32_t dataBufferOffset = 0;
  std::uint32_t senseInfoOffset = 0;
  std::array<std::uint8_t, 16> cdb{};
};

Header ParseHeader(std::span<const std::byte> input) {
  Header header;
  header.length = GetLe16(input, 0);
  header.cdbLength = std::to_integer<std::uint8_t>(input[6]);
  header.senseInfoLength = std::to_integer<std::uint8_t>(input[7]);
  header.dataTransferLength = GetLe32(input, 12);
  header.dataBufferOffset = GetLe32(input, 20);
  header.senseInfoOffset = GetLe32(input, 24);
  for (std::size_t i = 0; i < 16; ++i) header.cdb[i] = std::to_integer<std::uint8_t>(input[28 + i]);
  return header;
}

}  // namespace

const char* RequestKindName(RequestKind kind) {
  switch (kind) {
    case RequestKind::StorageQuery: return "descriptor";
    case RequestKind::Inquiry: return "inquiry";
    case RequestKind::CardMode: return "card";
    case RequestKind::ComputerMode: return "computer";
    case RequestKind::LengthQuery: return "length";
    case RequestKind::ChunkRead: return "chunk";
    case RequestKind::Other: return "other";
    case RequestKind::Any: return "any";
  }
  return "other";
}

std::optional<RequestKind> ParseRequestKind(std::string_view name) {
  for (RequestKind kind : {RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::CardMode,
                           RequestKind::ComputerMode, RequestKind::LengthQuery, RequestKind::ChunkRead,
                           RequestKind::Other, RequestKind::Any}) {
    if (name == RequestKindName(kind)) return kind;
  }
  return std::nullopt;
}

ChunkPolicy ChunkPolicy::Fixed(std::uint32_t length) {
  ChunkPolicy policy;
  policy.kind = Kind::Fixed;
  policy.fixed = length;
  return policy;
}

ChunkPolicy ChunkPolicy::Random(std::uint64_t seed, std::uint32_t min, std::uint32_t max) {
  ChunkPolicy policy;
  policy.kind = Kind::Random;
  policy.seed = seed;
  policy.randomMin = std::max<std::uint32_t>(1, std::min(min, max));
  policy.randomMax = std::max(min, max);
  return policy;
}

ChunkPolicy ChunkPolicy::Script(std::vector<std::uint32_t> lengths) {
  ChunkPolicy policy;
  policy.kind = Kind::Script;
  policy.script = std::move(lengths);
  return policy;
}

ScannerSimulator::ScannerSimulator() : ScannerSimulator(SimulatorOptions{}) {}

ScannerSimulator::ScannerSimulator(SimulatorOptions options) : options_(options) {}

void ScannerSimulator::SetDescriptor(DescriptorConfig config) {
  std::scoped_lock lock(mutex_);
  descriptor_ = std::move(config);
}

DescriptorConfig ScannerSimulator::Descriptor() const {
  std::scoped_lock lock(mutex_);
  return descriptor_;
}

void ScannerSimulator::QueueImage(std::vector<std::byte> bytes) {
  std::scoped_lock lock(mutex_);
  images_.push_back({std::move(bytes), false, imagesQueued_++});
}

void ScannerSimulator::QueueImageFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read image " + path.string());
  std::vector<char> content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read image " + path.string());
  std::vector<std::byte> bytes(content.size());
  // An empty file has no buffer at all: memcpy must not see its null pointer.
  if (!content.empty()) std::memcpy(bytes.data(), content.data(), content.size());
  QueueImage(std::move(bytes));
}

void ScannerSimulator::QueueGeneratedImage(std::size_t size, std::uint32_t seed) {
  std::vector<std::byte> bytes(size);
  std::mt19937 generator(seed);
  for (std::byte& b : bytes) b = static_cast<std::byte>(generator() & 0xFFu);
  QueueImage(std::move(bytes));
}

std::size_t ScannerSimulator::QueuedImages() const {
  std::scoped_lock lock(mutex_);
  return images_.size();
}

std::size_t ScannerSimulator::ImagesDelivered() const {
  std::scoped_lock lock(mutex_);
  return imagesDelivered_;
}

void ScannerSimulator::HoldImages(bool hold) {
  std::scoped_lock lock(mutex_);
  hold_ = hold;
}

ScannerSimulator::Mode ScannerSimulator::CurrentMode() const {
  std::scoped_lock lock(mutex_);
  return mode_;
}

void ScannerSimulator::SetMode(Mode mode) {
  std::scoped_lock lock(mutex_);
  mode_ = mode;
}

void ScannerSimulator::SetChunkPolicy(ChunkPolicy policy) {
  std::scoped_lock lock(mutex_);
  policy_ = std::move(policy);
  chunkRandom_.seed(policy_.seed);
  scriptPosition_ = 0;
}

void ScannerSimulator::AddFault(FaultRule rule) {
  std::scoped_lock lock(mutex_);
  faults_.push_back(rule);
}

void ScannerSimulator::AddRandomFault(RandomFault fault) {
  std::scoped_lock lock(mutex_);
  randomFaults_.push_back({fault, std::mt19937_64(fault.seed)});
}

void ScannerSimulator::AddLengthOverride(LengthOverride override) {
  std::scoped_lock lock(mutex_);
  lengthOverrides_[override.query] = override.value;
}

void ScannerSimulator::PlanUnplug(UnplugPlan plan) {
  std::scoped_lock lock(mutex_);
  unplugPlan_ = plan;
}

void ScannerSimulator::ClearFaults() {
  std::scoped_lock lock(mutex_);
  faults_.clear();
  randomFaults_.clear();
  lengthOverrides_.clear();
  unplugPlan_.reset();
}

void ScannerSimulator::SetDelay(RequestKind kind, std::chrono::milliseconds delay) {
  std::scoped_lock lock(mutex_);
  delays_[kind] = delay;
}

void ScannerSimulator::SetEventHandler(std::function<void(const SimulatorEvent&)> handler) {
  std::scoped_lock lock(mutex_);
  eventHandler_ = std::move(handler);
}

void ScannerSimulator::Unplug() {
  std::function<void()> handler;
  {
    std::scoped_lock lock(mutex_);
    if (unplugged_) return;
    unplugged_ = true;
    handler = unplugHandler_;
  }
  if (handler) handler();
}

void ScannerSimulator::Replug() {
  std::scoped_lock lock(mutex_);
  unplugged_ = false;
}

bool ScannerSimulator::Unplugged() const {
  std::scoped_lock lock(mutex_);
  return unplugged_;
}

void ScannerSimulator::SetUnplugHandler(std::function<void()> handler) {
  std::scoped_lock lock(mutex_);
  unplugHandler_ = std::move(handler);
}

std::vector<RecordedRequest> ScannerSimulator::Requests() const {
  std::scoped_lock lock(mutex_);
  return records_;
}

std::vector<RecordedRequest> ScannerSimulator::RequestsOf(RequestKind kind) const {
  std::scoped_lock lock(mutex_);
  std::vector<RecordedRequest> result;
  std::copy_if(records_.begin(), records_.end(), std::back_inserter(result),
               [kind](const RecordedRequest& r) { return r.kind == kind; });
  return result;
}

std::size_t ScannerSimulator::RequestCount() const {
  std::scoped_lock lock(mutex_);
  return requestCount_;
}

void ScannerSimulator::ClearRequests() {
  std::scoped_lock lock(mutex_);
  records_.clear();
}

std::optional<platform::ErrorCode> ScannerSimulator::InjectedFault(RequestKind kind, std::uint32_t kindIndex,
                                                                   std::uint32_t index) {
  for (const FaultRule& rule : faults_) {
    const bool kindMatches = rule.kind == RequestKind::Any || rule.kind == kind;
    if (!kindMatches) continue;
    const std::uint32_t n = rule.kind == RequestKind::Any ? index : kindIndex;
    if (n >= rule.first && (rule.count == kForever || n - rule.first < rule.count)) return rule.error;
  }
  for (RandomFaultState& state : randomFaults_) {
    if (state.fault.kind != RequestKind::Any && state.fault.kind != kind) continue;
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    if (draw(state.generator) < state.fault.probability) return state.fault.error;
  }
  return std::nullopt;
}

IoControlResult ScannerSimulator::IoControl(std::uint32_t controlCode, std::span<const std::byte> input,
                                            std::span<std::byte> output) {
  std::function<void()> unplugHandler;
  std::function<void(const SimulatorEvent&)> eventHandler;
  std::vector<SimulatorEvent> events;
  IoControlResult result;
  RequestKind kind = RequestKind::Other;
  if (controlCode == platform::kIoctlStorageQueryProperty) {
    kind = RequestKind::StorageQuery;
  } else if (controlCode == platform::kIoctlScsiPassThrough && input.size() >= kHeaderSize) {
    kind = KindOfOperation(std::to_integer<std::uint8_t>(input[28]));
  }
  std::chrono::milliseconds delay{0};
  bool held = false;
  {
    std::scoped_lock lock(mutex_);
    if (auto it = delays_.find(kind); it != delays_.end()) delay = it->second;
    // The numbers this request is about to get.
    const std::uint32_t kindIndex = kindCounts_[static_cast<std::size_t>(kind)];
    for (const FaultRule& rule : faults_) {
      if (!rule.hold || (rule.kind != RequestKind::Any && rule.kind != kind)) continue;
      const std::uint32_t n = rule.kind == RequestKind::Any ? requestCount_ : kindIndex;
      if (n >= rule.first && (rule.count == kForever || n - rule.first < rule.count)) held = true;
    }
  }
  if (held) {
    // Its fault rule fails it below, once the caller has given up on it.
    const std::chrono::milliseconds timeout(hostworld::device_socket::ReplyTimeoutMs(controlCode, input));
    if (hostworld::SynchronousIo::Request* request = hostworld::SynchronousIo::Current()) {
      (void)request->WaitForCancel(timeout);
    } else {
      std::this_thread::sleep_for(timeout + std::chrono::seconds(1));
    }
  }
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
  {
    std::scoped_lock lock(mutex_);
    const std::uint32_t index = requestCount_++;
    const std::uint32_t kindIndex = kindCounts_[static_cast<std::size_t>(kind)]++;

    RecordedRequest* record = nullptr;
    if (options_.recordRequests) {
      record = &records_.emplace_back();
      record->index = index;
      record->kind = kind;
      record->controlCode = controlCode;
      record->input.assign(input.begin(), input.end());
      if (controlCode == platform::kIoctlScsiPassThrough && input.size() >= kHeaderSize) {
        for (std::size_t i = 0; i < 16; ++i) record->cdb[i] = std::to_integer<std::uint8_t>(input[28 + i]);
      }
      record->inputSize = static_cast<std::uint32_t>(input.size());
      record->outputSize = static_cast<std::uint32_t>(output.size());
      if (options_.checkOutputZeroed) {
        const auto past = output.subspan(std::min(input.size(), output.size()));
        record->outputWasZero = std::all_of(past.begin(), past.end(), [](std::byte b) { return b == std::byte{0}; });
      }
    }

    if (unplugged_) {
      result = {false, 0, error::kDeviceNotConnected};
    } else if (auto fault = InjectedFault(kind, kindIndex, index)) {
      result = {false, 0, *fault};
    } else {
      if (kind == RequestKind::StorageQuery) {
        result = StorageQuery(input, output);
      } else if (controlCode == platform::kIoctlScsiPassThrough) {
        result = PassThrough(kind, input, output);
      } else {
        result = {false, 0, 1};  // ERROR_INVALID_FUNCTION: a control code the device does not know
      }
      const std::uint32_t answered = ++kindAnswered_[static_cast<std::size_t>(kind)];
      if (unplugPlan_ && unplugPlan_->kind == kind && answered >= unplugPlan_->after) {
        unplugPlan_.reset();
        unplugged_ = true;
        unplugHandler = unplugHandler_;
      }
    }
    if (record != nullptr) record->result = result;
    events.swap(pendingEvents_);
    eventHandler = eventHandler_;
  }
  if (eventHandler) {
    for (const SimulatorEvent& event : events) eventHandler(event);
  }
  if (unplugHandler) unplugHandler();
  return result;
}

IoControlResult ScannerSimulator::StorageQuery(std::span<const std::byte> input, std::span<std::byte> output) {
  if (input.size() < 12) return {false, 0, error::kInvalidParameter};
  if (GetLe32(input, 0) != 0) return {false, 0, 50};  // ERROR_NOT_SUPPORTED: another property
  const std::uint32_t queryType = GetLe32(input, 4);
  if (queryType == 1) return {true, 0, error::kSuccess};  // PropertyExistsQuery
  if (queryType != 0) return {false, 0, error::kInvalidParameter};
  if (output.size() < 8) return {false, 0, error::kInsufficientBuffer};

  // Lay the descriptor out: the fixed part, the returned texts (normal ones
  // with their zero, then unterminated ones without), then the texts placed
  // past the returned bytes.
  std::vector<std::byte> bytes(kDescriptorFixedPart);
  std::uint32_t offsets[3] = {0, 0, 0};
  const DescriptorString* strings[3] = {&descriptor_.vendor, &descriptor_.product, &descriptor_.revision};
  auto place = [&bytes](const std::string& text, bool terminate) {
    const auto at = static_cast<std::uint32_t>(bytes.size());
    for (char c : text) bytes.push_back(static_cast<std::byte>(static_cast<unsigned char>(c)));
    if (terminate) bytes.push_back(std::byte{0});
    return at;
  };
  using Placement = DescriptorString::Placement;
  for (int i = 0; i < 3; ++i) {
    if (strings[i]->placement == Placement::Normal) offsets[i] = place(strings[i]->text, true);
  }
  for (int i = 0; i < 3; ++i) {
    if (strings[i]->placement == Placement::Unterminated) offsets[i] = place(strings[i]->text, false);
  }
  const std::size_t returnedPart = bytes.size();
  for (int i = 0; i < 3; ++i) {
    if (strings[i]->placement == Placement::PastReturned) offsets[i] = place(strings[i]->text, true);
  }

  PutLe32(bytes, 0, static_cast<std::uint32_t>(kDescriptorFixedPart));  // Version
  PutLe32(bytes, 4, static_cast<std::uint32_t>(returnedPart));           // Size
  bytes[10] = std::byte{descriptor_.removableMedia ? std::uint8_t{1} : std::uint8_t{0}};
  PutLe32(bytes, 12, offsets[0]);
  PutLe32(bytes, 16, offsets[1]);
  PutLe32(bytes, 20, offsets[2]);
  PutLe32(bytes, 28, 7);  // BusTypeUsb

  const std::size_t written = std::min(bytes.size(), output.size());
  if (written > 0) std::memcpy(output.data(), bytes.data(), written);
  const std::size_t returned = std::min(returnedPart, output.size());
  if (descriptor_.junkAfterReturned) {
    for (std::size_t i = std::max(written, returned); i < output.size(); ++i) output[i] = std::byte{'#'};
  }
  return {true, static_cast<std::uint32_t>(returned), error::kSuccess};
}

bool ScannerSimulator::Announcing() const { return mode_ == Mode::Computer && !hold_ && !images_.empty(); }

std::uint32_t ScannerSimulator::NextChunkLength() {
  switch (policy_.kind) {
    case ChunkPolicy::Kind::Fixed:
      return std::clamp<std::uint32_t>(policy_.fixed, 1, kLargestChunk);
    case ChunkPolicy::Kind::Random: {
      std::uniform_int_distribution<std::uint32_t> draw(std::min(policy_.randomMin, kLargestChunk),
                                                        std::min(policy_.randomMax, kLargestChunk));
      return draw(chunkRandom_);
    }
    case ChunkPolicy::Kind::Script: {
      if (policy_.script.empty()) return 65536;
      const std::size_t at = std::min(scriptPosition_, policy_.script.size() - 1);
      ++scriptPosition_;
      return std::min(policy_.script[at], kLargestChunk);
    }
  }
  return 65536;
}

IoControlResult ScannerSimulator::PassThrough(RequestKind kind, std::span<const std::byte> input,
                                              std::span<std::byte> output) {
  // What the port driver checks before the request reaches the device.
  if (input.size() < kHeaderSize) return {false, 0, error::kInvalidParameter};
  const Header header = ParseHeader(input);
  if (header.length != kHeaderSize || header.cdbLength == 0 || header.cdbLength > 16) {
    return {false, 0, error::kInvalidParameter};
  }
  if (header.dataTransferLength > 0 &&
      (header.dataBufferOffset < kHeaderSize ||
       std::uint64_t{header.dataBufferOffset} + header.dataTransferLength > output.size())) {
    return {false, 0, error::kInvalidParameter};
  }
  if (header.senseInfoLength > 0 &&
      (header.senseInfoOffset < kHeaderSize ||
       std::uint64_t{header.senseInfoOffset} + header.senseInfoLength > output.size())) {
    return {false, 0, error::kInvalidParameter};
  }
  if (output.size() < kHeaderSize) return {false, 0, error::kInsufficientBuffer};

  // The driver hands the header back with the status and the bytes moved.
  std::memcpy(output.data(), input.data(), kHeaderSize);
  std::uint8_t status = 0;
  std::uint32_t moved = 0;
  auto data = [&](std::size_t at) -> std::byte& { return output[header.dataBufferOffset + at]; };

  switch (kind) {
    case RequestKind::Inquiry: {
      std::array<std::byte, 36> inquiry{};
      std::span<std::byte> reply(inquiry);
      reply[0] = std::byte{0x00};  // direct-access block device
      reply[1] = std::byte{0x80};  // removable medium
      reply[2] = std::byte{0x02};
      reply[3] = std::byte{0x02};  // response data format
      reply[4] = std::byte{31};    // additional length
      PutText(reply, 8, descriptor_.vendor.text, 8);
      PutText(reply, 16, descriptor_.product.text, 16);
      PutText(reply, 32, descriptor_.revision.text, 4);
      moved = std::min<std::uint32_t>({36u, header.cdb[4], header.dataTransferLength});
      for (std::uint32_t i = 0; i < moved; ++i) data(i) = inquiry[i];
      break;
    }
    case RequestKind::CardMode:
      mode_ = Mode::Card;
      pendingOffset_.reset();
      break;
    case RequestKind::ComputerMode:
      mode_ = Mode::Computer;
      break;
    case RequestKind::LengthQuery: {
      if (header.dataTransferLength < 4) {
        status = kCheckCondition;
        break;
      }
      const std::uint32_t offset = (std::uint32_t{header.cdb[1]} << 24) | (std::uint32_t{header.cdb[2]} << 16) |
                                   (std::uint32_t{header.cdb[3]} << 8) | header.cdb[4];
      std::uint32_t answer = 0;
      const std::uint32_t query = kindCounts_[static_cast<std::size_t>(RequestKind::LengthQuery)] - 1;
      const auto overridden = lengthOverrides_.find(query);
      if (Announcing()) {
        Image& image = images_.front();
        if (offset >= image.bytes.size()) {
          answer = 0xCCDDEEFFu;
          pendingOffset_.reset();
          // An end marker that an override hides was never sent: the image stays.
          const bool sent = overridden == lengthOverrides_.end();
          const bool firstAtZero = offset == 0 && !image.markerSeenAtZero;
          if (sent) image.markerSeenAtZero = true;
          if (sent && !firstAtZero) {
            if (eventHandler_) {
              SimulatorEvent event;
              event.kind = SimulatorEvent::Kind::ImageDelivered;
              event.image = image.number;
              event.bytes = std::move(image.bytes);
              pendingEvents_.push_back(std::move(event));
            }
            images_.pop_front();
            ++imagesDelivered_;
          }
        } else {
          const auto remaining = static_cast<std::uint32_t>(image.bytes.size() - offset);
          answer = std::min(NextChunkLength(), remaining);
          pendingOffset_ = offset;
        }
      }
      if (overridden != lengthOverrides_.end()) answer = overridden->second;
      PutBigEndian(output, header.dataBufferOffset, answer);
      moved = 4;
      break;
    }
    case RequestKind::ChunkRead: {
      if (!Announcing() || !pendingOffset_) {
        status = kCheckCondition;
        break;
      }
      const std::vector<std::byte>& image = images_.front().bytes;
      const std::size_t from = *pendingOffset_;
      moved = static_cast<std::uint32_t>(std::min<std::size_t>(header.dataTransferLength, image.size() - from));
      if (moved > 0) std::memcpy(&data(0), image.data() + from, moved);
      if (eventHandler_) {
        SimulatorEvent event;
        event.kind = SimulatorEvent::Kind::ChunkAnswered;
        event.offset = static_cast<std::uint32_t>(from);
        event.length = moved;
        pendingEvents_.push_back(std::move(event));
      }
      break;
    }
    default:
      status = kCheckCondition;
      break;
  }

  output[2] = std::byte{status};
  PutLe32(output, 12, moved);
  std::uint32_t returned = header.dataBufferOffset + moved;
  if (status == kCheckCondition && header.senseInfoLength > 0) {
    // Fixed-format sense data: ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
    std::span<std::byte> sense = output.subspan(header.senseInfoOffset, header.senseInfoLength);
    std::fill(sense.begin(), sense.end(), std::byte{0});
    sense[0] = std::byte{0x70};
    if (sense.size() > 2) sense[2] = std::byte{kSenseIllegalRequest};
    if (sense.size() > 7) sense[7] = std::byte{10};
    if (sense.size() > 12) sense[12] = std::byte{0x20};
    returned = std::max<std::uint32_t>(returned, header.senseInfoOffset + header.senseInfoLength);
  } else if (moved == 0) {
    returned = std::max<std::uint32_t>(kHeaderSize, header.dataBufferOffset);
  }
  return {true, std::min<std::uint32_t>(returned, static_cast<std::uint32_t>(output.size())), error::kSuccess};
}

}  // namespace pw::sim
