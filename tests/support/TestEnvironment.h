#pragma once
// What a test needs around the platform layer, in both builds: a scratch
// folder with a Windows path, whether Wine runs the test, and a visible record
// of the places where Wine is known to differ from Windows.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace pw::test {

// A fresh folder for one test, removed with everything in it at the end.
// Host build: a folder of the current host world, or of a world this object
// creates when none exists. Win32 build: a new folder under GetTempPathA.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder's Windows path, without a trailing '\'.
  const std::string& Path() const { return path_; }
  // Path() + "\" + name.
  std::string operator/(std::string_view name) const;

  // Writes (replaces) a file below the folder through the platform layer.
  void WriteFile(std::string_view name, std::string_view bytes) const;
  // The whole content of a file below the folder; empty when it cannot be read.
  std::string ReadFile(std::string_view name) const;

 private:
  struct Backend;
  std::unique_ptr<Backend> backend_;
  std::string path_;
};

// Deletes a folder and everything in it through the platform layer (clearing
// read-only attributes on the way). Best effort: what cannot go stays.
void RemoveTree(const std::string& path);

// Links as a standard user makes them: a junction (folder link) and a
// symbolic link to a file. False when the system cannot make one here (Wine 8
// has no reparse points; a file symbolic link needs a privilege on Windows).
bool CreateJunction(const std::string& link, const std::string& target);
bool CreateFileSymlink(const std::string& link, const std::string& target);

// A folder that the console user may not write (on Windows the system's
// folders already are: the host world is told so), with a user at the
// console. Returns the folder's path.
std::string FolderTheConsoleUserMayNotWrite();

// Sets a DWORD value of the program's machine policy key
// (HKEY_LOCAL_MACHINE\SOFTWARE\Pagewick), or removes it (nullopt): the host
// world's model, or the registry (the Wine tests run as an administrator).
// False when it cannot be written.
bool SetMachinePolicyDword(const std::string& name, std::optional<std::uint32_t> value);

// A machine policy value for the life of the object, removed again after.
class MachinePolicyValue {
 public:
  MachinePolicyValue(std::string name, std::uint32_t value) : name_(std::move(name)) {
    set_ = SetMachinePolicyDword(name_, value);
  }
  ~MachinePolicyValue() { (void)SetMachinePolicyDword(name_, std::nullopt); }
  MachinePolicyValue(const MachinePolicyValue&) = delete;
  MachinePolicyValue& operator=(const MachinePolicyValue&) = delete;
  bool ok() const { return set_; }

 private:
  std::string name_;
  bool set_ = false;
};

// True when the test runs under Wine (ntdll exports wine_get_version); always
// false in the host build.
bool IsRunningUnderWine();

// Marks a behaviour where Wine is known to differ from Windows. Under Wine it
// prints "[ KNOWN WINE DIFFERENCE ] <what>", records it as a property of the
// running test and returns true, so the test asserts Wine's behaviour instead;
// elsewhere it returns false and the test asserts Windows' behaviour.
bool KnownWineDifference(std::string_view what);

}  // namespace pw::test
