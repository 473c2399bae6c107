#include <atomic>
#include <stdexcept>
#include <string>

#include "platform/FileSystem.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"
#include "tests/support/TestEnvironment.h"

namespace pw::test {

struct ScratchFolder::Backend {
  std::unique_ptr<host::World> ownWorld;  // only when no world existed
};

ScratchFolder::ScratchFolder() : backend_(std::make_unique<Backend>()) {
  if (host::World::CurrentOrNull() == nullptr) backend_->ownWorld = std::make_unique<host::World>();
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
  if (host::World::CurrentOrNull() != nullptr) RemoveTree(path_);
}

bool IsRunningUnderWine() { return false; }

bool CreateJunction(const std::string& link, const std::string& target) {
  host::World::Current().CreateJunction(link, target);
  return true;
}

bool CreateFileSymlink(const std::string& link, const std::string& target) {
  host::World::Current().CreateFileSymlink(link, target);
  return true;
}

std::string FolderTheConsoleUserMayNotWrite() {
  host::World& world = host::World::Current();
  world.MakeDirectories("C:\\Windows\\System32");
  world.UserSessions().DenyUserWrites("C:\\Windows");
  if (!world.UserSessions().ConsoleSession()) (void)world.UserSessions().LogOn("alice");
  return "C:\\Windows\\System32";
}

}  // namespace pw::test

namespace pw::test {

bool SetMachinePolicyDword(const std::string& name, std::optional<std::uint32_t> value) {
  host::World::Current().SetMachinePolicyDword(name, value);
  return true;
}

}  // namespace pw::test
