#include "service/Entry.h"

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <typeinfo>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/Dialogs.h"
#include "platform/PathText.h"
#include "platform/Security.h"
#include "platform/SystemInfo.h"
#include "service/Elevation.h"
#include "service/OsError.h"
#include "service/Service.h"
#include "service/ServiceApplication.h"
#include "service/Switches.h"
#include "ui/TextTable.h"

namespace pw::service {
namespace {

// The exception's class name without its namespaces.
std::string ClassName(const std::type_info& type) {
  std::string name = platform::TypeName(type);
  const std::size_t colons = name.rfind("::");
  if (colons != std::string::npos) name = name.substr(colons + 2);
  return name;
}

}  // namespace

std::string ApplicationErrorText(const std::exception* exception) {
  const std::string className = exception != nullptr ? ClassName(typeid(*exception)) : "Exception";
  std::string message = exception != nullptr ? exception->what() : "Unknown exception";
  const void* address = nullptr;
  if (const auto* osError = dynamic_cast<const OsError*>(exception)) address = osError->Address();
  char addressText[2 * sizeof(void*) + 1] = {};
  std::snprintf(addressText, sizeof addressText, "%0*" PRIXPTR, static_cast<int>(2 * sizeof(void*)),
                reinterpret_cast<std::uintptr_t>(address));
  const std::string module = platform::ExtractFileName(platform::GetModuleFileName());
  const char* period = !message.empty() && message.back() == '.' ? "" : ".";
  return "Exception " + className + " in module " + module + " at " + addressText + ".\n" + message + period;
}

int ProcessEntry(std::span<const std::string> commandLine, scanner::ScannerLink* scannerLink) {
  auto showError = [](const std::exception* exception) {
    (void)platform::MessageBoxEx(nullptr, ApplicationErrorText(exception), kApplicationErrorCaption,
                                 platform::mb::kOk | platform::mb::kIconError | platform::mb::kTaskModal, 0);
  };
  // Before any DLL is loaded by name: from System32 only, never from this
  // folder or the current directory.
  (void)platform::RestrictDllSearchToSystem32();
  const CommandLine line = ParseCommandLine(commandLine.empty() ? commandLine : commandLine.subspan(1));
  const bool installing = line.mode == RunMode::Install || line.mode == RunMode::Uninstall;
  // A script learns from the exit code whether an install or uninstall
  // worked; other runs end with 0.
  const auto failed = [installing] { return installing ? static_cast<int>(CurrentFailureCode()) : 0; };
  try {
    TServiceApplication application(scannerLink);
    application.CreateService1();
    return application.Run(commandLine.empty() ? commandLine : commandLine.subspan(1));
  } catch (const OsError& failure) {
    // Without administrator rights the control manager will not open for an
    // install or uninstall: the box offers the administrator prompt.
    if (failure.Code() == platform::error::kAccessDenied && installing) {
      return static_cast<int>(OfferElevatedRun(ui::text::kRunAsAdministratorMessage,
                                               line.mode == RunMode::Install ? "/install" : "/uninstall"));
    }
    showError(&failure);
    return failed();
  } catch (const std::exception& exception) {
    showError(&exception);
    return failed();
  } catch (...) {
    showError(nullptr);
    return failed();
  }
}

}  // namespace pw::service
