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

platform::Outcome SendScannerCommand(const platform::DeviceHandle& device, PassThroughBuffer& buffer,
                                     ScannerCommand command, std::uint32_t argument) {
  buffer.Clear();
  if (command == ScannerCommand::ChunkReadCommand &&
      (argument == 0 || argument > static_cast<std::uint32_t>(kLargestChunk))) {
    return platform::Outcome::Failure(platform::error::kInvalidParameter);
  }
  const CommandLayout layout = LayoutOf(command, argument);

  buffer.PutWord16(pt::kLengthAt, pt::kLength);
  buffer.PutByte(pt::kTargetIdAt, pt::kTargetId);
  buffer.PutByte(pt::kCdbLengthAt, pt::kCdbLength);
  buffer.PutByte(pt::kSenseInfoLengthAt, layout.senseInfoLength);
  buffer.PutByte(pt::kDataInAt, pt::kDataIn);
  buffer.PutWord32(pt::kDataTransferLengthAt, layout.dataTransferLength);
  buffer.PutWord32(pt::kTimeOutValueAt, pt::kTimeOutSeconds);
  buffer.PutWord32(pt::kDataBufferOffsetAt, pt::kDataBufferOffset);
  buffer.PutWord32(pt::kSenseInfoOffsetAt, pt::kSenseInfoOffset);
  for (std::size_t i = 0; i < layout.cdb.size(); ++i) buffer.PutByte(pt::kCdbAt + i, layout.cdb[i]);

  const std::uint32_t outputSize = layout.OutputSize();
  const std::span<std::byte> io = buffer.OutputSpan(outputSize);
  const platform::IoControlResult result =
      platform::DeviceIoControl(device, platform::kIoctlScsiPassThrough, io.data(), pt::kInputSize, io.data(), outputSize);
  return result.ok ? platform::Outcome::Success() : platform::Outcome::Failure(result.error);
}

LengthReply ReadLengthReply(const PassThroughBuffer& buffer) {
  const std::span<const std::byte> data = buffer.Data().first(4);
  LengthReply reply;
  reply.endOfImage = std::equal(data.begin(), data.end(), kEndOfImageMarker.begin());
  std::uint32_t value = 0;
  for (std::byte b : data) value = (value << 8) | std::to_integer<std::uint32_t>(b);
  reply.length = static_cast<std::int32_t>(value);
  return reply;
}

bool RunScannerRequest(const platform::DeviceHandle& device, ScannerRequestKind kind, ImagePuller* puller) {
  bool inquiryOk = false;
  {
    PassThroughBuffer buffer;
    inquiryOk = SendScannerCommand(device, buffer, ScannerCommand::InquiryRequest).ok;
    if (!inquiryOk) return false;
    switch (kind) {
      case ScannerRequestKind::RequestCardMode:
        return SendScannerCommand(device, buffer, ScannerCommand::CardModeCommand).ok;
      case ScannerRequestKind::RequestComputerMode:
        return SendScannerCommand(device, buffer, ScannerCommand::ComputerModeCommand).ok;
      case ScannerRequestKind::RequestPull:
        break;
      default:
        return inquiryOk;  // an unknown kind: nothing after the INQUIRY
    }
  }
  // The pull owns its requests (and its buffer); without one, nothing more goes out.
  if (puller == nullptr) return false;
  return puller->PullImage(device);
}

}  // namespace pw::scanner
