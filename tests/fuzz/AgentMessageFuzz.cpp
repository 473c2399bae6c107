// libFuzzer target for the decoder of the agent channel: the input is one pipe
// message from either side. A refusal must never crash; every accepted message
// must pass validation, fit the size limit and survive encode then decode.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "agent/AgentProtocol.h"

namespace {

using namespace pw::agent;

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckOne(std::span<const std::byte> bytes, Sender from) {
  const Decoded decoded = Decode(bytes, from);
  if (!decoded) {
    Check(!RefusalText(decoded.refusal).empty());
    return;
  }
  Check(bytes.size() <= kMaxMessageSize);
  Check(Validate(decoded.message) == Refusal::None);
  const std::vector<std::byte> encoded = Encode(decoded.message);
  // The encoding is canonical: the accepted bytes are exactly the encoding.
  Check(encoded.size() == bytes.size());
  Check(std::equal(encoded.begin(), encoded.end(), bytes.begin()));
  const Decoded again = Decode(encoded, from);
  Check(again.refusal == Refusal::None);
  Check(again.message == decoded.message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
  CheckOne(bytes, Sender::Agent);
  CheckOne(bytes, Sender::Service);
  return 0;
}
