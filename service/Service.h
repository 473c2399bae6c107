#pragma once
// Unit Service: TService1, the service "Service1" ("Pagewick"), and its event
// handlers, which own the life of the main window: created at start,
// destroyed at stop, shown when a later start of the executable leaves the
// show-window marker. Every handler but ServiceCreate runs on the service
// thread (checked).
#include <cstdint>
#include <memory>

#include "service/ServiceRuntime.h"

namespace pw::service {

class TServiceApplication;
class AgentHost;

// One pass of the execute loop sleeps this long before it looks for the marker.
inline constexpr std::uint32_t kExecutePassMs = 100;

class TService1 : public TService {
 public:
  // The stored definition, with the handlers assigned. Its owner creates and
  // destroys the main windows.
  explicit TService1(TServiceApplication& owner);
  ~TService1() override;

  // Once per process, on the main thread: builds a transient main window,
  // writes the show-window marker and destroys the window again.
  void ServiceCreate(TService& sender);
  // Removes a stale marker, creates the main window, shows and hides it.
  void ServiceStart(TService& sender, bool& started);
  // The service's loop: every pass waits (before Windows Vista it sleeps and
  // acts on the marker), then serves the thread's messages, until the service
  // thread is terminated.
  void ServiceExecute(TService& sender);
  void ServiceStop(TService& sender, bool& stopped);
  void ServiceShutdown(TService& sender);
  void ServicePause(TService& sender, bool& paused);
  void ServiceContinue(TService& sender, bool& continued);
  // Windows Vista and later: a user logged on or off.
  void ServiceSessionChange(TService& sender, std::uint32_t eventType, std::uint32_t sessionId);
  // Windows Vista and later: a volume arrived or went (the control handler's
  // device events, which reach session 0 where window broadcasts may not).
  void ServiceDeviceEvent(TService& sender, std::uint32_t eventType);

  // Windows Vista and later: the session agents; null before and outside a run.
  AgentHost* Agents() const { return agents_.get(); }

 private:
  // Shows the service's main window, or creates one when it has none.
  void ShowMainWindow();
  // The top of a pass: before Windows Vista a fixed sleep; later a wait for
  // the thread's queue, which every request reaches.
  void WaitForWork() const;

  TServiceApplication& owner_;
  // Windows Vista and later: what the user sees runs in session agents.
  bool sessionAgents_ = false;
  std::unique_ptr<AgentHost> agents_;
};

}  // namespace pw::service
