#pragma once
// Owners of the host world's files and folders, as far as the program sets
// or checks them. An owner is kept with the entry itself (an extended
// attribute of its host file), so it goes when the entry is deleted and every
// process of the world sees it. An entry without a recorded owner is the
// service's (SYSTEM). A thread that impersonates a user owns what it
// creates, as on Windows: any user may create folders and files in
// %ProgramData% and is their owner (a test may also make an entry a user's
// directly, as when that user created it first).
#include <string>
#include <string_view>

namespace pw::hostworld {

inline constexpr const char* kSystemOwner = "SYSTEM";
inline constexpr const char* kAdministratorsOwner = "Administrators";

// The owner of an existing entry of the current world; empty when the entry
// does not exist or its owner cannot be read.
std::string EntryOwner(std::string_view windowsPath);
// Records the owner of an existing entry. False when that cannot be done.
bool SetEntryOwner(std::string_view windowsPath, std::string_view owner);

}  // namespace pw::hostworld
