#pragma once
// The event sources this program writes under, registered with the
// executable as their message file: the service's name (the control
// manager's thread) and the executable's file name (the application). Its
// message table holds the inserted text as the whole message, so a log
// viewer shows each entry exactly as written.
#include <string>
#include <vector>

namespace pw::service {

// Both source names, the service's first.
std::vector<std::string> EventSourceNames(const std::string& serviceName);

// Registers both with the running executable's path. A source that cannot be
// registered leaves its entries without a text in the viewer but takes
// nothing from the install: the errors are ignored.
void RegisterEventSources(const std::string& serviceName);
// Removes both registrations; one that is not there is not an error.
void RemoveEventSources(const std::string& serviceName);

}  // namespace pw::service
