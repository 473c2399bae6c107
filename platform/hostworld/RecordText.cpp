#include "platform/hostworld/RecordText.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <sstream>
#include <system_error>

namespace pw::hostworld {
namespace fs = std::filesystem;

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string EncodeField(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x21 || u > 0x7E || c == '%' || c == '=' || c == ',') {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::string DecodeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string EncodeList(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    // An empty item still takes its place between the commas.
    out += items[i].empty() ? std::string("%00") : EncodeField(items[i]);
  }
  return out;
}

std::vector<std::string> DecodeList(std::string_view text) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view part = text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    items.push_back(part == "%00" ? std::string() : DecodeField(part));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return items;
}

std::optional<Record> ReadRecord(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Record record;
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    record[line.substr(0, equals)] = DecodeField(std::string_view(line).substr(equals + 1));
  }
  return record;
}

bool WriteRecord(const fs::path& path, const Record& record) {
  std::string text;
  for (const auto& [key, value] : record) text += key + '=' + EncodeField(value) + '\n';
  return ReplaceFileText(path, text);
}

bool ReplaceFileText(const fs::path& path, std::string_view text) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  const fs::path temporary = path.string() + ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    if (!out.flush()) return false;
  }
  fs::rename(temporary, path, ec);
  if (!ec) return true;
  fs::remove(temporary, ec);
  return false;
}

bool AppendLine(const fs::path& path, std::string_view line) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::app);
  if (!out) return false;
  out << line << '\n';
  return static_cast<bool>(out.flush());
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

FileLock::FileLock(const fs::path& path) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  descriptor_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!descriptor_.valid()) throw std::system_error(errno, std::generic_category(), "open " + path.string());
  while (::flock(descriptor_.get(), LOCK_EX) != 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "flock " + path.string());
  }
}

// Closing the descriptor releases the lock.
FileLock::~FileLock() = default;

}  // namespace pw::hostworld
