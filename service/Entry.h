#pragma once
// The process entry of pagewick.exe, callable with any command line so that
// tests can run the whole program in-process.
#include <exception>
#include <span>
#include <string>

namespace pw::scanner {
class ScannerLink;
}

namespace pw::service {

// Runs the program for the command line (the program's name first):
// initialises the application, creates the service object (ServiceCreate),
// then installs, uninstalls or runs the service. An exception that escapes is
// shown in the "Application Error" box. Returns the exit code: 0, or for an
// install or uninstall that failed its error code. Main thread.
int ProcessEntry(std::span<const std::string> commandLine, scanner::ScannerLink* scannerLink);

// The error box's text for an exception:
// "Exception <class> in module <file> at <address>.\n<message>[.]".
std::string ApplicationErrorText(const std::exception* exception);

inline constexpr const char* kApplicationErrorCaption = "Application Error";

}  // namespace pw::service
