#include "scanner/PictureDigest.h"

#include <xxhash.h>

#include <algorithm>
#include <new>

namespace pw::scanner {

struct PictureDigest::State {
  XXH3_state_t* xxh = XXH3_createState();
  State() {
    if (xxh == nullptr) throw std::bad_alloc();
    XXH3_64bits_reset(xxh);
  }
  ~State() { XXH3_freeState(xxh); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
};

PictureDigest::PictureDigest(std::optional<std::uint64_t> mark) : state_(std::make_unique<State>()), mark_(mark) {
  if (mark_ == 0u) atMark_ = Value();
}

PictureDigest::~PictureDigest() = default;

void PictureDigest::Add(std::span<const std::byte> bytes) {
  // A chunk that crosses the mark is digested in two steps, so that the
  // prefix's digest can be taken between them.
  if (mark_ && !atMark_ && *mark_ - size_ <= bytes.size()) {
    const auto before = static_cast<std::size_t>(*mark_ - size_);
    XXH3_64bits_update(state_->xxh, bytes.data(), before);
    size_ += before;
    atMark_ = Value();
    bytes = bytes.subspan(before);
  }
  XXH3_64bits_update(state_->xxh, bytes.data(), bytes.size());
  size_ += bytes.size();
}

std::uint64_t PictureDigest::Value() const { return XXH3_64bits_digest(state_->xxh); }

}  // namespace pw::scanner
