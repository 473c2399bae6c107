#pragma once
// Synchronous device requests in flight, thread by thread, and their
// cancellation from another thread: the host world's CancelSynchronousIo.
// A request cancelled while its thread waits on the device ends at once with
// ERROR_OPERATION_ABORTED; a cancel that finds the thread in no request does
// nothing and fails with ERROR_NOT_FOUND, as on Windows (a cancel is not kept
// for the thread's next request).
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/hostworld/UniqueFd.h"

namespace pw::hostworld {

class SynchronousIo {
 public:
  // The calling thread's request from its start to its end. A device that
  // waits (for a reply, for its time-out) waits through it, so that a cancel
  // ends the wait.
  class Request {
   public:
    explicit Request(SynchronousIo& table);
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    bool Cancelled() const;
    // Waits until the request is cancelled or the time has passed; true when cancelled.
    bool WaitForCancel(std::chrono::milliseconds timeout);
    // A descriptor that is readable once the request is cancelled, for a wait
    // in poll() beside the device's own; -1 when none could be made.
    int CancelFd();

   private:
    friend class SynchronousIo;
    void Cancel();

    SynchronousIo& table_;
    Request* outer_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable cancelled_;
    bool isCancelled_ = false;
    UniqueFd event_;  // made on the first CancelFd
  };

  // Cancels the request the thread is in; false when it is in none.
  bool Cancel(std::thread::id thread);

  // The calling thread's request in progress, or nullptr.
  static Request* Current();

 private:
  std::mutex mutex_;
  std::map<std::thread::id, Request*> requests_;
};

}  // namespace pw::hostworld
