#include <atomic>
#include <stdexcept>
#include <string>

#include "platform/FileSystem.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"
#include "tests/support/TestEnvironment.h"

namespace pw::test {

struct ScratchFolder::Backend {
  std::unique_ptr<hostworld::World> ownWorld;  // only when no world existed
};

ScratchFolder::ScratchFolder() : backend_(std::make_unique<Backend>()) {
  if (hostworld::World::CurrentOrNull() == nullptr) backend_->ownWorld = std::make_unique<hostworld::World>();
  static std::atomic<unsigned> counter{0};
  const std::string base = "C:\\scratch";
  (void)platform::CreateDirectory(base);
  for (;;) {
    path_ = base + "\\test" + std::to_string(++counter);
    const platform::Result<void> created = platform::CreateDirectory(path_);
    if (created) break;
    if (created.error() != platform::error::kAlreadyExists) {
      throw std::runtime_error("cannot create the scratch folder " + path_);
    }
  }
}

ScratchFolder::~ScratchFolder() {
  if (hostworld::World::CurrentOrNull() != nullptr) RemoveTree(path_);
}

bool IsRunningUnderWine() { return false; }

bool CreateJunction(const std::string& link, const std::string& target) {
  hostworld::World::Current().CreateJunction(link, target);
  return true;
}

bool CreateFileSymlink(const std::string& link, const std::string& target) {
  hostworld::World::Current().CreateFileSymlink(link, target);
  return true;
}

std::string FolderTheConsoleUserMayNotWrite() {
  hostworld::World& world = hostworld::World::Current();
  world.MakeDirectories("C:\\Windows\\System32");
  world.UserSessions().DenyUserWrites("C:\\Windows");
  if (!world.UserSessions().ConsoleSession()) (void)world.UserSessions().LogOn("alice");
  return "C:\\Windows\\System32";
}

}  // namespace pw::test

namespace pw::test {

bool SetMachinePolicyDword(const std::string& name, std::optional<std::uint32_t> value) {
  hostworld::World::Current().SetMachinePolicyDword(name, value);
  return true;
}

}  // namespace pw::test
