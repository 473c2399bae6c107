#include "platform/hostworld/SynchronousIo.h"

#include <sys/eventfd.h>

#include <cstdint>

namespace pw::hostworld {
namespace {

thread_local SynchronousIo::Request* t_current = nullptr;

void Signal(int fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

}  // namespace

SynchronousIo::Request::Request(SynchronousIo& table) : table_(table), outer_(t_current) {
  {
    std::scoped_lock lock(table_.mutex_);
    table_.requests_[std::this_thread::get_id()] = this;
  }
  t_current = this;
}

SynchronousIo::Request::~Request() {
  t_current = outer_;
  std::scoped_lock lock(table_.mutex_);
  if (outer_ != nullptr) {
    table_.requests_[std::this_thread::get_id()] = outer_;
  } else {
    table_.requests_.erase(std::this_thread::get_id());
  }
}

bool SynchronousIo::Request::Cancelled() const {
  std::scoped_lock lock(mutex_);
  return isCancelled_;
}

bool SynchronousIo::Request::WaitForCancel(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return cancelled_.wait_for(lock, timeout, [this] { return isCancelled_; });
}

int SynchronousIo::Request::CancelFd() {
  std::scoped_lock lock(mutex_);
  if (!event_.valid()) {
    event_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (event_.valid() && isCancelled_) Signal(event_.get());
  }
  return event_.get();
}

void SynchronousIo::Request::Cancel() {
  std::scoped_lock lock(mutex_);
  isCancelled_ = true;
  if (event_.valid()) Signal(event_.get());
  cancelled_.notify_all();
}

bool SynchronousIo::Cancel(std::thread::id thread) {
  // Under the table's lock: the request cannot end and go meanwhile.
  std::scoped_lock lock(mutex_);
  const auto found = requests_.find(thread);
  if (found == requests_.end()) return false;
  found->second->Cancel();
  return true;
}

SynchronousIo::Request* SynchronousIo::Current() { return t_current; }

}  // namespace pw::hostworld
