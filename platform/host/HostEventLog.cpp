#include <cstdlib>
#include <memory>

#include "platform/EventLog.h"
#include "platform/hostworld/EventLogStore.h"
#include "platform/hostworld/RecordText.h"
#include "platform/hostworld/World.h"

namespace pw::platform {
namespace {

class EventSourceObject final : public hostworld::HandleObject {
 public:
  explicit EventSourceObject(std::string sourceName) : source(std::move(sourceName)) {}
  std::string source;
};

}  // namespace

void EventSourceHandleTraits::Close(RawHandle handle) noexcept {
  if (hostworld::World* world = hostworld::World::CurrentOrNull()) world->CloseHandle(handle);
}

Result<EventSourceHandle> RegisterEventSource(const std::optional<std::string>& server, std::string_view source) {
  if (server && !server->empty()) {
    return Failure(1722);  // RPC_S_SERVER_UNAVAILABLE: the world is one machine
  }
  if (source.empty()) {
    return Failure(error::kInvalidParameter);
  }
  return EventSourceHandle(hostworld::World::Current().AddHandle(std::make_unique<EventSourceObject>(std::string(source))));
}

Result<void> ReportEvent(const EventSourceHandle& source, std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                    std::span<const std::string> strings) {
  hostworld::World& world = hostworld::World::Current();
  auto* object = source.valid() ? dynamic_cast<EventSourceObject*>(world.FindHandle(source.get())) : nullptr;
  if (object == nullptr) return Failure(error::kInvalidHandle);
  hostworld::EventLogEntry entry;
  entry.source = object->source;
  entry.type = type;
  entry.category = category;
  entry.eventId = eventId;
  entry.strings.assign(strings.begin(), strings.end());
  if (!hostworld::AppendEventLogEntry(world, entry)) return Failure(error::kDiskFull);
  return Success();
}

}  // namespace pw::platform

namespace pw::platform {

Result<void> RegisterEventSourceFile(std::string_view source, const EventSourceRegistration& registration) {
  if (!hostworld::ValidEventSource(source)) return Failure(error::kInvalidParameter);
  const hostworld::Record record{{"EventMessageFile", registration.messageFile},
                                 {"TypesSupported", std::to_string(registration.typesSupported)}};
  if (!hostworld::WriteEventSource(hostworld::World::Current(), source, record)) return Failure(error::kAccessDenied);
  return Success();
}

Result<void> RemoveEventSourceFile(std::string_view source) {
  if (!hostworld::ValidEventSource(source)) return Failure(error::kInvalidParameter);
  if (!hostworld::RemoveEventSource(hostworld::World::Current(), source)) return Failure(error::kFileNotFound);
  return Success();
}

std::optional<EventSourceRegistration> FindEventSourceFile(std::string_view source) {
  if (!hostworld::ValidEventSource(source)) return std::nullopt;
  const std::optional<hostworld::Record> record = hostworld::ReadEventSource(hostworld::World::Current(), source);
  if (!record) return std::nullopt;
  EventSourceRegistration registration;
  if (auto file = record->find("EventMessageFile"); file != record->end()) registration.messageFile = file->second;
  if (auto types = record->find("TypesSupported"); types != record->end()) {
    registration.typesSupported = static_cast<std::uint32_t>(std::strtoul(types->second.c_str(), nullptr, 10));
  }
  return registration;
}

}  // namespace pw::platform
