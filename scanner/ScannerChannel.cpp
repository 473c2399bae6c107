#include "scanner/ScannerChannel.h"

#include <algorithm>

namespace pw::scanner {

namespace pt = pass_through;

CommandLayout LayoutOf(ScannerCommand command, std::uint32_t argument) {
  CommandLayout layout;
  switch (command) {
    case ScannerCommand::InquiryRequest:
      layout.cdb = {0x12, 0x00, 0x00, 0x00, 0x50, 0x00};
      layout.dataTransferLength = 80;
      break;
    case ScannerCommand::CardModeCommand:
      layout.cdb = {0x55, 0x00, 0x00, 0x00, 0x00, 0x00};
      break;
    case ScannerCommand::ComputerModeCommand:
      layout.cdb = {0x54, 0x00, 0x00, 0x00, 0x00, 0x00};
      break;
    case ScannerCommand::LengthQueryCommand:
      // The offset, most significant byte first, in CDB bytes 1-4.
      layout.cdb = {0x52,
                    static_cast<std::uint8_t>(argument >> 24),
                    static_cast<std::uint8_t>((argument >> 16) & 0xFFu),
                    static_cast<std::uint8_t>((argument >> 8) & 0xFFu),
                    static_cast<std::uint8_t>(argument & 0xFFu),
                    0x00};
      layout.senseInfoLength = 32;
      layout.dataTransferLength = 4;
      break;
    case ScannerCommand::ChunkReadCommand:
      // The device delivers from the offset of the last length query.
      layout.cdb = {0x53, 0x00, 0x00, 0x00, 0x00, 0x00};
      layout.senseInfoLength = 32;
      layout.dataTransferLength = argument;
      break;
  }
  return layout;
}

platform::Result<void> SendScannerCommand(const platform::DeviceHandle& device, PassThroughBuffer& buffer,
                                     ScannerCommand command, std::uint32_t argument) {
  buffer.Clear();
  if (command == ScannerCommand::ChunkReadCommand &&
      (argument == 0 || argument > static_cast<std::uint32_t>(kLargestChunk))) {
    return platform::Failure(platform::error::kInvalidParameter);
  }
  const CommandLayout layout = LayoutOf(command, argument);

  // The header is put together field by field, little-endian, then copied in
  // at once.
  std::array<std::byte, pt::kInputSize> header{};
  auto put = [&header](std::size_t at, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) header[at + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFFu);
  };
  put(pt::kLengthAt, pt::kLength, 2);
  put(pt::kTargetIdAt, pt::kTargetId, 1);
  put(pt::kCdbLengthAt, pt::kCdbLength, 1);
  put(pt::kSenseInfoLengthAt, layout.senseInfoLength, 1);
  put(pt::kDataInAt, pt::kDataIn, 1);
  put(pt::kDataTransferLengthAt, layout.dataTransferLength, 4);
  put(pt::kTimeOutValueAt, pt::kTimeOutSeconds, 4);
  put(pt::kDataBufferOffsetAt, pt::kDataBufferOffset, 4);
  put(pt::kSenseInfoOffsetAt, pt::kSenseInfoOffset, 4);
  for (std::size_t i = 0; i < layout.cdb.size(); ++i) put(pt::kCdbAt + i, layout.cdb[i], 1);
  buffer.PutBytes(0, header);

  const std::uint32_t outputSize = layout.OutputSize();
  const std::span<std::byte> io = buffer.BeginRequest(outputSize);
  const platform::IoControlResult result =
      platform::DeviceIoControl(device, platform::kIoctlScsiPassThrough, io.data(), pt::kInputSize, io.data(), outputSize);
  buffer.EndRequest(result.ok, result.bytesReturned);
  return result.ok ? platform::Success() : platform::Failure(result.error);
}

LengthReply ReadLengthReply(const PassThroughBuffer& buffer) {
  const std::span<const std::byte> data = buffer.DataPrefix(4);
  LengthReply reply;
  reply.endOfImage = std::equal(data.begin(), data.end(), kEndOfImageMarker.begin());
  std::uint32_t value = 0;
  for (std::byte b : data) value = (value << 8) | std::to_integer<std::uint32_t>(b);
  reply.length = static_cast<std::int32_t>(value);
  return reply;
}

bool RunScannerRequest(const platform::DeviceHandle& device, ScannerRequestKind kind, PassThroughBuffer& buffer,
                       ImagePuller* puller, const std::atomic<int>* interrupt) {
  if (!SendScannerCommand(device, buffer, ScannerCommand::InquiryRequest).ok()) return false;
  if (interrupt != nullptr && interrupt->load(std::memory_order_relaxed) > 0) return false;
  switch (kind) {
    case ScannerRequestKind::RequestCardMode:
      return SendScannerCommand(device, buffer, ScannerCommand::CardModeCommand).ok();
    case ScannerRequestKind::RequestComputerMode:
      return SendScannerCommand(device, buffer, ScannerCommand::ComputerModeCommand).ok();
    case ScannerRequestKind::RequestPull:
      // The pull sends its own requests; without one, nothing more goes out.
      return puller != nullptr && puller->PullImage(device);
  }
  return true;  // an unknown kind: nothing after the INQUIRY
}

bool RunScannerRequest(const platform::DeviceHandle& device, ScannerRequestKind kind, ImagePuller* puller) {
  PassThroughBuffer buffer;
  return RunScannerRequest(device, kind, buffer, puller);
}

}  // namespace pw::scanner
