#pragma once
// A digest of a picture's bytes taken as they pass (XXH3, 64 bits): a pull
// digests each chunk as it writes it, so that remembering the picture saved
// last, and telling a new picture from it, never reads a file a second time.
// The digest of the first bytes up to one chosen length is kept on the way:
// the length of the picture saved last, which a longer delivery of the same
// picture begins with.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace pw::scanner {

class PictureDigest {
 public:
  // mark: the length whose prefix digest is kept (nothing: none is kept).
  explicit PictureDigest(std::optional<std::uint64_t> mark = std::nullopt);
  ~PictureDigest();
  PictureDigest(const PictureDigest&) = delete;
  PictureDigest& operator=(const PictureDigest&) = delete;

  void Add(std::span<const std::byte> bytes);
  // The digest of every byte added so far, and their count.
  [[nodiscard]] std::uint64_t Value() const;
  [[nodiscard]] std::uint64_t Size() const { return size_; }
  // The digest of the first mark bytes, once that many were added.
  [[nodiscard]] std::optional<std::uint64_t> AtMark() const { return atMark_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::optional<std::uint64_t> mark_;
  std::optional<std::uint64_t> atMark_;
  std::uint64_t size_ = 0;
};

}  // namespace pw::scanner
