// libFuzzer target for the host profile reader and writer: the input is the
// settings file's content. Reads must never crash and a write must touch only
// the key it names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Profile.h"
#include "platform/ProfileParser.h"
#include "platform/hostworld/World.h"

namespace {

using namespace pw;

constexpr const char* kPath = "C:\\fuzz\\settings.info";

hostworld::World& FuzzWorld() {
  static std::unique_ptr<hostworld::World> world = [] {
    auto created = std::make_unique<hostworld::World>();
    created->MakeDirectories("C:\\fuzz");
    return created;
  }();
  return *world;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hostworld::World& world = FuzzWorld();
  const std::string content(reinterpret_cast<const char*>(data), size);
  world.WriteFile(kPath, content);

  // The sections and keys the program reads, and a few odd ones: every pair
  // through the parser, a few through the platform call with small and large
  // buffers.
  const std::string_view sections[] = {"Setting", "String", "", "A", " setting ", "\tSetting"};
  const std::string_view keys[] = {"Mode", "Path", "File", "Folder", "AutoRoate", "10005", "", ";k", "#k", "k"};
  for (std::string_view section : sections) {
    for (std::string_view key : keys) (void)platform::FindProfileValue(content, section, key);
  }
  const std::size_t buffers[] = {0, 1, 2, 16, platform::kProfileBufferSize, 200000};
  for (std::size_t i = 0; i < std::size(buffers); ++i) {
    const std::string_view section = sections[i % std::size(sections)];
    const std::string_view key = keys[(i * 3) % std::size(keys)];
    const platform::ProfileText text = platform::ReadProfileString(section, key, "default  ", kPath, buffers[i]);
    Check(text.text.size() < buffers[i] || (buffers[i] == 0 && text.text.empty()));
    const std::optional<std::string> direct = platform::FindProfileValue(content, section, key);
    if (direct && buffers[i] > direct->size()) Check(text.text == *direct);
  }
  (void)platform::ReadProfileInteger("Setting", "AutoRoate", 0, kPath);

  // A write changes only its own key: every other key reads as before.
  const std::optional<std::string> before = platform::FindProfileValue(content, "Setting", "Path");
  const std::optional<std::string> otherBefore = platform::FindProfileValue(content, "String", "10005");
  Check(platform::WriteProfileString("Setting", "Mode", "7", kPath).ok());
  Check(platform::ReadProfileString("Setting", "Mode", "", kPath).text == "7");
  const std::string written = world.ReadFile(kPath);
  Check(platform::FindProfileValue(written, "Setting", "Path") == before);
  Check(platform::FindProfileValue(written, "String", "10005") == otherBefore);

  // Deleting the key again leaves the rest as it was.
  Check(platform::WriteProfileString("Setting", "Mode", std::nullopt, kPath).ok());
  Check(platform::FindProfileValue(world.ReadFile(kPath), "String", "10005") == otherBefore);
  return 0;
}
