#include "platform/PathText.h"

namespace pw::platform {
namespace {

// Index just after the folder part.
std::size_t NameStart(std::string_view path) {
  std::size_t separator = path.find_last_of("\\:");
  return separator == std::string_view::npos ? 0 : separator + 1;
}

}  // namespace

std::string ExtractFilePath(std::string_view path) { return std::string(path.substr(0, NameStart(path))); }

std::string ExtractFileName(std::string_view path) { return std::string(path.substr(NameStart(path))); }

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  std::size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || dot < NameStart(path)) dot = path.size();
  std::string result(path.substr(0, dot));
  result += extension;
  return result;
}

}  // namespace pw::platform
