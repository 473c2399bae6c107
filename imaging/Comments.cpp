#include "imaging/Comments.h"

#include <array>
#include <cstring>
#include <mutex>
#include <optional>

#include "imaging/pwimaging.h"
#include "imaging/Trace.h"

namespace pw::imaging {
namespace {

struct CommentTable {
  std::mutex mutex;
  std::array<std::optional<std::string>, PWIMG_MAX_COMMENT_TYPE + 1> texts;
};

CommentTable& Table() {
  static CommentTable table;
  return table;
}

}  // namespace

std::vector<std::string> CurrentComments() {
  CommentTable& table = Table();
  std::lock_guard lock(table.mutex);
  std::vector<std::string> comments;
  for (const auto& text : table.texts) {
    if (text) comments.push_back(*text);
  }
  return comments;
}

}  // namespace pw::imaging

extern "C" int PwImgSetComment(uint32_t type, const char* text, uint32_t length) {
  using pw::imaging::Table;
  if (type > PWIMG_MAX_COMMENT_TYPE) return 0;
  try {
    std::optional<std::string> value;
    if (text != nullptr && length > 0) {
      // The text ends at its first zero, and never reads past length - 1
      // characters: length counts the terminating zero.
      const void* zero = std::memchr(text, 0, length - 1);
      const std::size_t size = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : length - 1;
      if (size > PWIMG_MAX_COMMENT_LENGTH) return 0;
      value.emplace(text, size);
    }
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    table.texts[type] = std::move(value);
    return 1;
  } catch (...) {
    pw::imaging::TraceCurrentException("pwimgfil: setting a comment");
    return 0;
  }
}
