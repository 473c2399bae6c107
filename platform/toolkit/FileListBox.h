#pragma once
// A (normally hidden) list of the file names of one folder that match a mask.
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/toolkit/Component.h"

namespace pw::toolkit {

// Pointing the list at a folder that cannot be entered.
class DirectoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class FileListBox : public Control {
 public:
  using Control::Control;

  const std::string& Mask() const { return mask_; }
  // A new mask reads the current folder again.
  void SetMask(std::string mask);

  const std::string& Directory() const { return directory_; }
  // Makes the folder the process's current directory and reads its names that
  // match the mask, leaving out directories, hidden and system files, sorted
  // ignoring case. Pointing the list at the folder it already shows (compared
  // ignoring case) reads nothing: the names stay as they were read last.
  // Throws DirectoryError when the folder cannot be made current.
  void SetDirectory(const std::string& directory);

  const std::vector<std::string>& Items() const { return items_; }
  // Reads the folder again; the peer hears of the names (Items) once they
  // are read, in the order held here.
  void Update();

 private:
  std::string mask_;
  std::string directory_;
  std::vector<std::string> items_;
};

}  // namespace pw::toolkit
