#pragma once
// Unit Service: TService1, the service "Service1" ("Pagewick"), and its event
// handlers, which own the life of the main window: created at start,
// destroyed at stop, shown when a later start of the executable leaves the
// show-window marker. Every handler but ServiceCreate runs on the service thread.
#include <cstdint>

#include "service/ServiceRuntime.h"

namespace pw::service {

class TServiceApplication;

// One pass of the execute loop sleeps this long before it looks for the marker.
inline constexpr std::uint32_t kExecutePassMs = 100;

class TService1 : public TService {
 public:
  // The stored definition, with the handlers assigned. Its owner creates and
  // destroys the main windows.
  explicit TService1(TServiceApplication& owner);

  // Once per process, on the main thread: builds a transient main window,
  // writes the show-window marker and destroys the window again.
  void ServiceCreate(TService& sender);
  // Removes a stale marker, creates the main window, shows and hides it.
  void ServiceStart(TService& sender, bool& started);
  // The service's loop: every pass sleeps, acts on the marker, then serves
  // the thread's messages, until the service thread is terminated.
  void ServiceExecute(TService& sender);
  void ServiceStop(TService& sender, bool& stopped);
  void ServiceShutdown(TService& sender);
  void ServicePause(TService& sender, bool& paused);
  void ServiceContinue(TService& sender, bool& continued);

 private:
  // Shows the service's main window, or creates one when it has none.
  void ShowMainWindow();

  TServiceApplication& owner_;
};

}  // namespace pw::service
