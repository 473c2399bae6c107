// The console user's token and impersonation in the host world. A token
// names the user of the console session; a thread that impersonates it is
// held to what SessionTable::UserMayWrite allows that user (HostFileSystem).
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/Security.h"
#include "platform/Sessions.h"
#include "platform/host/HostFiles.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"

namespace pw::platform {
namespace {

class UserToken final : public hostworld::HandleObject {
 public:
  UserToken(std::string user, std::uint32_t session) : user_(std::move(user)), session_(session) {}
  const std::string& User() const { return user_; }
  std::uint32_t Session() const { return session_; }

 private:
  std::string user_;
  std::uint32_t session_;
};

// The user each thread acts for; empty: the process's own rights.
thread_local std::optional<std::string> t_impersonated;

}  // namespace

RawHandle TokenHandleTraits::Invalid() noexcept { return nullptr; }

void TokenHandleTraits::Close(RawHandle handle) noexcept {
  if (hostworld::World* world = hostworld::World::CurrentOrNull()) world->CloseHandle(handle);
}

Result<TokenHandle> ConsoleUserToken() {
  hostworld::World& world = hostworld::World::Current();
  const std::optional<std::uint32_t> console = world.UserSessions().ConsoleSession();
  const std::optional<hostworld::UserSession> session = console ? world.UserSessions().Find(*console) : std::nullopt;
  if (!session) return Failure(error::kNoToken);
  return TokenHandle(world.AddHandle(std::make_unique<UserToken>(session->user, session->id)));
}

Impersonation::Impersonation(const TokenHandle& token) {
  hostworld::World* world = hostworld::World::CurrentOrNull();
  const auto* user = world != nullptr && token.valid() ? dynamic_cast<UserToken*>(world->FindHandle(token.get())) : nullptr;
  if (user == nullptr) {
    error_ = error::kInvalidHandle;
    return;
  }
  t_impersonated = user->User();
  ok_ = true;
}

Impersonation::~Impersonation() {
  if (ok_) t_impersonated.reset();
}

}  // namespace pw::platform

namespace pw::host {

const std::string* ImpersonatedUser() { return platform::t_impersonated ? &*platform::t_impersonated : nullptr; }

}  // namespace pw::host
