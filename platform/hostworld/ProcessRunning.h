#pragma once
// Whether a process of this machine is still running. One that has ended but
// was not reaped yet (a zombie) counts as ended: only its parent can reap it.
#include <signal.h>
#include <sys/types.h>

#include <fstream>
#include <iterator>
#include <string>

namespace pw::hostworld {

inline bool ProcessRunning(pid_t process) {
  if (process <= 0 || ::kill(process, 0) != 0) return false;
  std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
  const std::string line((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The state follows the command name, which is in parentheses and may hold spaces.
  const std::size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

}  // namespace pw::hostworld
