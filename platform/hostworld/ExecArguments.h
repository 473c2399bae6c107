#pragma once
// The argument and environment vectors of execve/posix_spawn: pointers into
// the caller's texts, closed by a null pointer. The texts must outlive them.
#include <string>
#include <vector>

namespace pw::hostworld {

inline std::vector<char*> NullTerminatedPointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace pw::hostworld
