#include "tools/scanner-sim/DeviceOptions.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "tools/scanner-sim/ScannerPicture.h"

namespace pw::sim {
namespace {

[[noreturn]] void Bad(const std::string& message) { throw std::invalid_argument(message); }

std::uint64_t Number(std::string_view text, std::string_view what) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) Bad("bad number for " + std::string(what));
  return value;
}

std::uint32_t Number32(std::string_view text, std::string_view what) {
  const std::uint64_t value = Number(text, what);
  if (value > 0xFFFFFFFFu) Bad("number too large for " + std::string(what));
  return static_cast<std::uint32_t>(value);
}

RequestKind Kind(std::string_view text) {
  const std::optional<RequestKind> kind = ParseRequestKind(text);
  if (!kind) Bad("unknown request kind " + std::string(text));
  return *kind;
}

DescriptorString& Field(DescriptorConfig& config, std::string_view name) {
  if (name == "vendor") return config.vendor;
  if (name == "product") return config.product;
  if (name == "revision") return config.revision;
  Bad("unknown descriptor field " + std::string(name));
}

std::vector<std::byte> ReadImageFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Bad("cannot read image " + path);
  std::vector<char> content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) Bad("cannot read image " + path);
  std::vector<std::byte> bytes(content.size());
  for (std::size_t i = 0; i < content.size(); ++i) bytes[i] = static_cast<std::byte>(content[i]);
  return bytes;
}

}  // namespace

std::uint32_t ParseNumber32(std::string_view text, std::string_view what) { return Number32(text, what); }

std::vector<std::string> SplitText(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(separator, start);
    parts.emplace_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return parts;
}

bool ApplyDeviceOption(DeviceSetup& setup, std::string_view option, const std::function<std::string_view()>& next,
                       std::uint32_t seed) {
  ScannerSimulator& simulator = setup.simulator;
  if (option == "--image") {
    setup.queue(ReadImageFile(std::string(next())));
  } else if (option == "--image-size") {
    // The same bytes as ScannerSimulator::QueueGeneratedImage.
    std::vector<std::byte> bytes(static_cast<std::size_t>(Number(next(), option)));
    std::mt19937 generator(seed);
    for (std::byte& b : bytes) b = static_cast<std::byte>(generator() & 0xFFu);
    setup.queue(std::move(bytes));
  } else if (option == "--picture" || option == "--plain-picture") {
    PictureRecipe details;
    details.seed = seed;
    if (option == "--plain-picture") {
      details.exif = false;
    } else {
      const std::vector<std::string> parts = SplitText(next(), ',');
      details.orientation = static_cast<std::uint16_t>(Number32(parts[0], option));
      if (parts.size() > 1) details.dateTime = parts[1];
    }
    try {
      setup.queue(MakeScannerPicture(details));
    } catch (const std::runtime_error& e) {
      Bad(e.what());
    }
  } else if (option == "--chunk") {
    const std::vector<std::string> parts = SplitText(next(), ':');
    if (parts[0] == "fixed" && parts.size() == 2) {
      simulator.SetChunkPolicy(ChunkPolicy::Fixed(Number32(parts[1], option)));
    } else if (parts[0] == "random" && parts.size() == 4) {
      simulator.SetChunkPolicy(
          ChunkPolicy::Random(Number(parts[1], option), Number32(parts[2], option), Number32(parts[3], option)));
    } else if (parts[0] == "script" && parts.size() == 2) {
      std::vector<std::uint32_t> lengths;
      for (const std::string& part : SplitText(parts[1], ',')) lengths.push_back(Number32(part, option));
      simulator.SetChunkPolicy(ChunkPolicy::Script(std::move(lengths)));
    } else {
      Bad("bad chunk policy");
    }
  } else if (option == "--vendor" || option == "--product" || option == "--revision") {
    Field(setup.descriptor, option.substr(2)).text = std::string(next());
  } else if (option == "--absent") {
    Field(setup.descriptor, next()).placement = DescriptorString::Placement::Absent;
  } else if (option == "--unterminated") {
    Field(setup.descriptor, next()).placement = DescriptorString::Placement::Unterminated;
  } else if (option == "--past-returned") {
    Field(setup.descriptor, next()).placement = DescriptorString::Placement::PastReturned;
  } else if (option == "--mode") {
    const std::string_view mode = next();
    if (mode == "card") {
      simulator.SetMode(ScannerSimulator::Mode::Card);
    } else if (mode == "computer") {
      simulator.SetMode(ScannerSimulator::Mode::Computer);
    } else {
      Bad("bad mode");
    }
  } else if (option == "--delay") {
    const std::vector<std::string> parts = SplitText(next(), ':');
    if (parts.size() != 2) throw std::invalid_argument("bad --delay");
    simulator.SetDelay(Kind(parts[0]), std::chrono::milliseconds(Number32(parts[1], "--delay")));
  } else if (option == "--hold") {
    simulator.HoldImages(true);
  } else if (option == "--release") {
    simulator.HoldImages(false);
  } else if (option == "--fail") {
    const std::vector<std::string> parts = SplitText(next(), ':');
    if (parts.size() < 2 || parts.size() > 4) Bad("bad --fail");
    FaultRule rule;
    rule.kind = Kind(parts[0]);
    rule.first = Number32(parts[1], option);
    if (parts.size() > 2) rule.count = parts[2] == "forever" ? kForever : Number32(parts[2], option);
    if (parts.size() > 3) rule.error = Number32(parts[3], option);
    simulator.AddFault(rule);
  } else if (option == "--hang") {
    const std::vector<std::string> parts = SplitText(next(), ':');
    if (parts.size() < 2 || parts.size() > 3) Bad("bad --hang");
    FaultRule rule;
    rule.kind = Kind(parts[0]);
    rule.first = Number32(parts[1], option);
    if (parts.size() > 2) rule.count = parts[2] == "forever" ? kForever : Number32(parts[2], option);
    rule.hold = true;
    simulator.AddFault(rule);
  } else if (option == "--random-fail") {
    const std::vector<std::string> parts = SplitText(next(), ':');
    if (parts.size() < 3 || parts.size() > 4) Bad("bad --random-fail");
    RandomFault fault;
    fault.kind = Kind(parts[0]);
    fault.probability = std::strtod(parts[1].c_str(), nullptr);
    fault.seed = Number(parts[2], option);
    if (parts.size() > 3) fault.error = Number32(parts[3], option);
    simulator.AddRandomFault(fault);
  } else if (option == "--length-override") {
    const std::vector<std::string> parts = SplitText(next(), ':');
    if (parts.size() != 2) Bad("bad --length-override");
    simulator.AddLengthOverride({Number32(parts[0], option), Number32(parts[1], option)});
  } else if (option == "--unplug-after") {
    const std::vector<std::string> parts = SplitText(next(), ':');
    if (parts.size() != 2) Bad("bad --unplug-after");
    simulator.PlanUnplug({Kind(parts[0]), Number32(parts[1], option)});
  } else {
    return false;
  }
  return true;
}

}  // namespace pw::sim
