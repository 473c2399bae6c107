#include "platform/toolkit/Controls.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace pw::toolkit {

void Label::SetCaption(std::string caption) {
  if (caption_ == caption) return;
  caption_ = std::move(caption);
  Notify(Property::Caption);
}

void Button::SetCaption(std::string caption) {
  if (caption_ == caption) return;
  caption_ = std::move(caption);
  Notify(Property::Caption);
}

void Edit::SetText(std::string text) {
  if (text_ == text) return;
  text_ = std::move(text);
  Notify(Property::Text);
  Fire(OnChange);
}

void ComboBox::AddItem(std::string item) {
  items_.push_back(std::move(item));
  Notify(Property::Items);
}

void ComboBox::SetItemIndex(int index) {
  Select(index);
  Notify(Property::ItemIndex);
}

void ComboBox::Select(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) {
    index = -1;
  }
  itemIndex_ = index;
  text_ = index >= 0 ? items_[static_cast<std::size_t>(index)] : std::string();
}

// The user's actions come from the native control, which already shows them:
// telling the peer would write the text back and move the edit's caret.
void ComboBox::UserSelect(int index) {
  Select(index);
  Fire(OnChange);
}

bool ComboBox::UserEditText(std::string text) {
  if (listOnly_) return false;
  itemIndex_ = -1;
  text_ = std::move(text);
  Fire(OnChange);
  return true;
}

void CheckBox::SetCaption(std::string caption) {
  if (caption_ == caption) return;
  caption_ = std::move(caption);
  Notify(Property::Caption);
}

void CheckBox::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Notify(Property::Checked);
  Fire(OnClick);
}

void Image::SetPicture(std::shared_ptr<const Bitmap> picture) {
  picture_ = std::move(picture);
  Notify(Property::Picture);
}

namespace {

// The source pixels and their weights for each target pixel along one axis.
struct Taps {
  std::vector<std::size_t> first;   // per target pixel: index into weights
  std::vector<std::size_t> count;
  std::vector<int> sourceStart;
  std::vector<double> weights;
};

Taps TentTaps(int sourceSize, int targetSize) {
  Taps taps;
  const double scale = static_cast<double>(sourceSize) / targetSize;
  const double radius = std::max(1.0, scale);
  for (int t = 0; t < targetSize; ++t) {
    const double centre = (t + 0.5) * scale - 0.5;
    const int from = std::max(0, static_cast<int>(std::floor(centre - radius)) + 1);
    const int to = std::min(sourceSize - 1, static_cast<int>(std::ceil(centre + radius)) - 1);
    taps.first.push_back(taps.weights.size());
    taps.sourceStart.push_back(from);
    double total = 0;
    for (int s = from; s <= to; ++s) {
      const double weight = std::max(0.0, 1.0 - std::abs(s - centre) / radius);
      taps.weights.push_back(weight);
      total += weight;
    }
    const std::size_t n = taps.weights.size() - taps.first.back();
    if (total <= 0) {
      // The nearest pixel alone (a target pixel beyond the source's centres).
      taps.weights.resize(taps.first.back());
      taps.sourceStart.back() = std::clamp(static_cast<int>(std::lround(centre)), 0, sourceSize - 1);
      taps.weights.push_back(1.0);
      taps.count.push_back(1);
      continue;
    }
    for (std::size_t i = taps.first.back(); i < taps.weights.size(); ++i) taps.weights[i] /= total;
    taps.count.push_back(n);
  }
  return taps;
}

}  // namespace

Bitmap Resample(const Bitmap& source, int width, int height) {
  Bitmap target;
  if (width < 1 || height < 1 || source.width < 1 || source.height < 1 ||
      source.pixels.size() < static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height) * 3) {
    return target;
  }
  const Taps across = TentTaps(source.width, width);
  const Taps down = TentTaps(source.height, height);
  // Rows first (source height x target width), then columns.
  const auto sw = static_cast<std::size_t>(source.width);
  const auto tw = static_cast<std::size_t>(width);
  std::vector<double> rows(static_cast<std::size_t>(source.height) * tw * 3);
  for (std::size_t y = 0; y < static_cast<std::size_t>(source.height); ++y) {
    for (std::size_t x = 0; x < tw; ++x) {
      double sum[3] = {0, 0, 0};
      for (std::size_t i = 0; i < across.count[x]; ++i) {
        const double w = across.weights[across.first[x] + i];
        const std::size_t at = (y * sw + static_cast<std::size_t>(across.sourceStart[x]) + i) * 3;
        for (std::size_t c = 0; c < 3; ++c) sum[c] += w * source.pixels[at + c];
      }
      for (std::size_t c = 0; c < 3; ++c) rows[(y * tw + x) * 3 + c] = sum[c];
    }
  }
  target.width = width;
  target.height = height;
  target.pixels.resize(tw * static_cast<std::size_t>(height) * 3);
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
    for (std::size_t x = 0; x < tw; ++x) {
      double sum[3] = {0, 0, 0};
      for (std::size_t i = 0; i < down.count[y]; ++i) {
        const double w = down.weights[down.first[y] + i];
        const std::size_t at = ((static_cast<std::size_t>(down.sourceStart[y]) + i) * tw + x) * 3;
        for (std::size_t c = 0; c < 3; ++c) sum[c] += w * rows[at + c];
      }
      for (std::size_t c = 0; c < 3; ++c) {
        target.pixels[(y * tw + x) * 3 + c] = static_cast<std::uint8_t>(std::clamp(std::lround(sum[c]), 0L, 255L));
      }
    }
  }
  return target;
}

}  // namespace pw::toolkit
