#include "service/Installation.h"

#include <exception>
#include <optional>
#include <string>

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/PathText.h"
#include "platform/Security.h"
#include "platform/ServiceControl.h"
#include "platform/SystemInfo.h"
#include "service/AgentHost.h"
#include "service/EventSources.h"
#include "service/OsError.h"
#include "service/Service.h"
#include "ui/MainForm.h"
#include "ui/TextTable.h"

namespace pw::service {
namespace {

void ShowDialog(const std::string& text, const char* caption, std::uint32_t icon) {
  (void)platform::MessageBoxEx(nullptr, text, caption, platform::mb::kOk | icon, 0);
}

// The local control manager with full access; a failure ends the install or
// uninstall run through the process entry's error box.
platform::ServiceHandle OpenLocalManager() {
  platform::Result<platform::ServiceHandle> manager =
      platform::OpenSCManager(std::nullopt, std::nullopt, platform::manager_access::kAllAccess);
  if (!manager) throw OsError(manager.error());
  return std::move(manager).value();
}

// The executable as the control manager starts it.
std::string ServicePath() {
  std::string path = platform::GetModuleFileName();
  // The control manager takes an unquoted path with a blank for a program
  // name followed by arguments and tries "C:\Program" first: quoted, the
  // path names only this executable.
  if (path.find(' ') != std::string::npos) path = "\"" + path + "\"";
  return path;
}

// Windows Vista and later: throws, saying to copy the program below Program
// Files, when users who are not administrators may change its folder, rename
// or replace a folder above it, or change a file it loads from there; the
// message names the folder or file.
void RefuseProgramFolderUsersMayChange() {
  // The service runs this executable, its imaging modules and its text table
  // as LocalSystem: where a standard user may change the folder or any of
  // those files, or rename a folder above it and put another in its place,
  // they could run code as LocalSystem.
  const std::string module = platform::GetModuleFileName();
  std::string folder = platform::ExtractFilePath(module);
  if (folder.size() > 3) folder.pop_back();
  const auto refuse = [](const std::string& what) {
    throw ProgramFolderRefusal(what + ". Copy pagewick.exe, pwimgfil.dll, pwimgkrn.dll and rc.info to a folder "
                                    "below Program Files and install from there");
  };
  const std::optional<bool> usersMayChange = platform::NonAdministratorsMayWrite(folder);
  if (!usersMayChange) refuse("The security of the folder cannot be read: " + folder);
  if (*usersMayChange) refuse("Users who are not administrators can change the folder " + folder);
  // Every folder above it, up to the drive's root.
  std::string above = folder;
  while (above.size() > 3) {
    const std::size_t cut = above.find_last_of('\\');
    if (cut == std::string::npos || cut == 0) break;
    above.resize(cut);
    if (above.size() == 2 && above[1] == ':') above += '\\';
    const std::optional<bool> replaceable = platform::NonAdministratorsMayReplace(above);
    if (!replaceable) refuse("The security of the folder cannot be read: " + above);
    if (*replaceable) {
      refuse("Users who are not administrators can rename or replace the folder " + above +
             ", which holds the program's folder " + folder);
    }
  }
  // The files it loads from there; one that is missing cannot be put there
  // by a user who may not change the folder.
  const std::string inFolder = folder.back() == '\\' ? folder : folder + '\\';
  for (const std::string& name : {platform::ExtractFileName(module), std::string("pwimgfil.dll"),
                                  std::string("pwimgkrn.dll"), std::string(ui::kTextTableFileName)}) {
    const std::string file = inFolder + name;
    if (!platform::FileExists(file)) continue;
    const std::optional<bool> replaceable = platform::NonAdministratorsMayReplace(file);
    if (!replaceable) refuse("The security of the file cannot be read: " + file);
    if (*replaceable) refuse("Users who are not administrators can change or replace the file " + file);
  }
}

}  // namespace

platform::ErrorCode CurrentFailureCode() {
  try {
    throw;
  } catch (const OsError& failure) {
    return failure.Code() != platform::error::kSuccess ? failure.Code() : platform::error::kGenFailure;
  } catch (const ProgramFolderRefusal&) {
    return kProgramFolderRefused;
  } catch (...) {
    return platform::error::kGenFailure;
  }
}

platform::ErrorCode InstallService(TService1* service, bool silent) {
  platform::ServiceHandle manager = OpenLocalManager();
  platform::ErrorCode outcome = platform::error::kSuccess;
  if (service != nullptr) {
    try {
      if (UsesSessionAgents()) RefuseProgramFolderUsersMayChange();
      if (service->BeforeInstall) service->BeforeInstall(*service);
      platform::ServiceDefinition definition;
      definition.name = service->Name;
      definition.displayName = service->DisplayName.empty() ? service->Name : service->DisplayName;
      definition.access = platform::service_access::kAllAccess;
      definition.type = service->NTServiceType();
      definition.startType = service->NTStartType();
      definition.errorControl = service->NTErrorSeverity();
      definition.binaryPath = ServicePath();
      definition.loadOrderGroup = service->LoadGroup;
      definition.requestTag = service->TagID != 0;
      definition.dependencies = service->Dependencies;
      if (!service->ServiceStartName.empty()) definition.account = service->ServiceStartName;
      definition.password = service->Password;
      const platform::Result<platform::ServiceHandle> created = platform::CreateService(manager, definition);
      if (!created) throw OsError(created.error());
      // What services.msc, sc qdescription and Get-Service say the service
      // is. Without it the service is installed all the same.
      if (const std::string description = ui::LoadTableText(ui::text::kServiceDescription); !description.empty()) {
        platform::ChangeServiceDescription(*created, description).IgnoreFailure();
      }
      if (UsesSessionAgents()) RegisterEventSources(service->Name);
      if (service->AfterInstall) service->AfterInstall(*service);
    } catch (...) {
      outcome = CurrentFailureCode();
      ShowDialog("Service \"" + service->DisplayName + "\" failed to install with error: \"" +
                     CurrentExceptionMessage() + "\"",
                 kErrorCaption, platform::mb::kIconError);
    }
  }
  manager.reset();
  if (outcome == platform::error::kSuccess && !silent) {
    ShowDialog(kInstalledText, kInformationCaption, platform::mb::kIconInformation);
  }
  return outcome;
}

platform::ErrorCode UninstallService(TService1* service, bool silent) {
  platform::ServiceHandle manager = OpenLocalManager();
  platform::ErrorCode outcome = platform::error::kSuccess;
  if (service != nullptr) {
    try {
      if (service->BeforeUninstall) service->BeforeUninstall(*service);
      platform::Result<platform::ServiceHandle> opened =
          platform::OpenService(manager, service->Name, platform::service_access::kAllAccess);
      if (!opened) throw OsError(opened.error());
      const platform::Result<void> deleted = platform::DeleteService(*opened);
      if (!deleted) throw OsError(deleted.error());
      opened->reset();
      if (UsesSessionAgents()) RemoveEventSources(service->Name);
      if (service->AfterUninstall) service->AfterUninstall(*service);
    } catch (...) {
      outcome = CurrentFailureCode();
      ShowDialog("Service \"" + service->DisplayName + "\" failed to uninstall with error: \"" +
                     CurrentExceptionMessage() + "\"",
                 kErrorCaption, platform::mb::kIconError);
    }
  }
  manager.reset();
  if (outcome == platform::error::kSuccess && !silent) {
    ShowDialog(kUninstalledText, kInformationCaption, platform::mb::kIconInformation);
  }
  return outcome;
}

}  // namespace pw::service
