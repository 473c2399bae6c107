#pragma once
// A (normally hidden) list of the file names of one folder that match a mask.
#include <string>
#include <vector>

#include "platform/Result.h"
#include "platform/toolkit/Component.h"

namespace pw::toolkit {

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
  // A folder that cannot be made current fails with SetCurrentDirectory's
  // error, and the list keeps its folder and names.
  [[nodiscard]] platform::Result<void> SetDirectory(const std::string& directory);

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
