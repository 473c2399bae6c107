#pragma once
// The session agent (Windows Vista and later): this executable started with
// /agent in a user's session, as that user. It owns what the user sees of the
// service: the tray icon and its menu, the settings page (the main window,
// whose Apply and Exit go to the service), the folder browser, the notice
// boxes and the folder windows of new images. It lives as long as its
// connection to the service. Agent's (main) thread only (checked): the
// connection posts its wake-ups to the thread that built the agent, and that
// thread's loop runs the window, the boxes and the service's messages.
#include <cstdint>
#include <memory>
#include <string>

#include "agent/ServiceConnection.h"
#include "platform/Result.h"
#include "platform/ThreadChecker.h"
#include "platform/LocationRules.h"
#include "ui/FormOwner.h"
#include "ui/PageLink.h"
#include "ui/ProcessState.h"

namespace pw::ui {

class TMainForm;

// Posted to the agent's thread when the service's messages arrive.
inline constexpr std::uint32_t kAgentWakeMessage = 0x8000 + 71;
// Pictures that land within this time of each other are one burst, told in
// one notification once the burst is over.
inline constexpr std::uint32_t kPictureBurstQuietMs = 3000;

class SessionAgent final : public FormOwner, public PageLink {
 public:
  // showPage: a desktop start; the page shows once the service's settings are in.
  SessionAgent(ProcessState& process, bool showPage, std::string pipeName = agent::kPipeName);
  ~SessionAgent() override;
  SessionAgent(const SessionAgent&) = delete;
  SessionAgent& operator=(const SessionAgent&) = delete;

  // Connects to the service and runs the thread's messages until the service
  // ends the agent or goes away, or the user chooses Exit. False when no
  // service serves the pipe: at once, or after trying for connectWaitMs (a
  // service that is starting makes its pipe a little later). The system's
  // error when the agent's main window cannot be made.
  [[nodiscard]] platform::Result<bool> Run(std::uint32_t connectWaitMs = 0);

  // PageLink
  bool ApplyPage(std::uint32_t saveType, const std::string& saveLocation, bool autoRotate) override;
  void ExitChosen() override;
  // FormOwner: the window goes at the top of the loop, and the agent with it.
  void ReleaseForm(TMainForm& form) override;

 private:
  void TakeMessages();
  void Handle(const agent::Message& message);
  // Shows the notice's box and answers the service once it has closed.
  void Tell(const agent::NotifyMessage& notice);
  // The box that says a chosen folder's path is longer than 128 characters.
  void ShowPathTooLong();
  // The box that says why a location cannot be the save location.
  void ShowLocationRefused(platform::LocationProblem problem);
  void Send(const agent::Message& message);
  // A picture landed in the folder: it joins the burst; a burst of another
  // folder is told first.
  void CountPicture(const std::string& folder);
  // The tray icon's notification of the burst: how many pictures, where.
  void TellBurst();
  // A click on the notification opens the burst's folder.
  void OpenBurstFolder();

  class BurstWindow;
  ProcessState& process_;
  bool showPage_;
  agent::ServiceConnection connection_;
  std::unique_ptr<TMainForm> form_;
  bool released_ = false;
  bool ending_ = false;
  // The burst being counted and the folder of the last one told.
  std::string burstFolder_;
  std::uint32_t burstPictures_ = 0;
  std::string toldFolder_;
  // A hidden window of the agent's thread whose timer ends a burst.
  std::unique_ptr<BurstWindow> burstWindow_;
  [[no_unique_address]] platform::ThreadChecker thread_{"SessionAgent"};
};

}  // namespace pw::ui
