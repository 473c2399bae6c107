#include <pthread.h>

#include <condition_variable>
#include <string>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Threads.h"
#include "platform/hostworld/World.h"

namespace pw::platform {
namespace {

// The suspend count of one thread, shared by every handle that names it.
struct SuspendState {
  std::mutex mutex;
  std::condition_variable resumed;
  std::condition_variable suspended;
  std::uint32_t count = 0;
};

class ThreadObject final : public hostworld::HandleObject {
 public:
  ThreadObject(std::thread::id id, std::shared_ptr<SuspendState> shared) : thread(id), state(std::move(shared)) {}
  std::thread::id thread;
  std::shared_ptr<SuspendState> state;
};

// Suspend states by thread, held while a handle names the thread.
std::mutex g_statesMutex;
std::map<std::thread::id, std::weak_ptr<SuspendState>> g_states;

std::shared_ptr<SuspendState> StateOf(std::thread::id thread) {
  std::scoped_lock lock(g_statesMutex);
  std::erase_if(g_states, [](const auto& entry) { return entry.second.expired(); });
  std::shared_ptr<SuspendState> state = g_states[thread].lock();
  if (!state) {
    state = std::make_shared<SuspendState>();
    g_states[thread] = state;
  }
  return state;
}

ThreadObject* Find(const ThreadHandle& handle) {
  hostworld::World* world = hostworld::World::CurrentOrNull();
  if (world == nullptr || !handle.valid()) return nullptr;
  return dynamic_cast<ThreadObject*>(world->FindHandle(handle.get()));
}

}  // namespace

void ThreadHandleTraits::Close(RawHandle handle) noexcept {
  if (hostworld::World* world = hostworld::World::CurrentOrNull()) world->CloseHandle(handle);
}

ThreadHandle OpenCurrentThread() {
  const std::thread::id self = std::this_thread::get_id();
  return ThreadHandle(hostworld::World::Current().AddHandle(std::make_unique<ThreadObject>(self, StateOf(self))));
}

std::uint32_t SuspendThread(const ThreadHandle& thread) {
  ThreadObject* object = Find(thread);
  // A host thread cannot be stopped from outside; it stops itself here.
  if (object == nullptr || object->thread != std::this_thread::get_id()) return kSuspendFailed;
  std::shared_ptr<SuspendState> state = object->state;
  std::unique_lock lock(state->mutex);
  const std::uint32_t previous = state->count++;
  state->suspended.notify_all();
  state->resumed.wait(lock, [&] { return state->count == 0; });
  return previous;
}

std::uint32_t ResumeThread(const ThreadHandle& thread) {
  ThreadObject* object = Find(thread);
  if (object == nullptr) return kSuspendFailed;
  std::shared_ptr<SuspendState> state = object->state;
  std::uint32_t previous = 0;
  {
    std::scoped_lock lock(state->mutex);
    previous = state->count;
    if (state->count > 0) --state->count;
  }
  if (previous == 1) state->resumed.notify_all();
  return previous;
}

std::uint32_t ResumeThreadOnceSuspended(const ThreadHandle& thread) {
  ThreadObject* object = Find(thread);
  if (object == nullptr || object->thread == std::this_thread::get_id()) return kSuspendFailed;
  std::shared_ptr<SuspendState> state = object->state;
  std::uint32_t previous = 0;
  {
    std::unique_lock lock(state->mutex);
    state->suspended.wait(lock, [&] { return state->count > 0; });
    previous = state->count--;
  }
  if (previous == 1) state->resumed.notify_all();
  return previous;
}

bool CancelSynchronousIo(const ThreadHandle& thread) {
  ThreadObject* object = Find(thread);
  if (object == nullptr || object->thread == std::this_thread::get_id()) return false;
  return hostworld::World::Current().PendingIo().Cancel(object->thread);
}

void NameCurrentThread(const char* name) {
  (void)::pthread_setname_np(::pthread_self(), std::string(name).substr(0, 15).c_str());
}

}  // namespace pw::platform
