// The design's pictures decode to the sizes the window expects; bad bytes are refused.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/IcoFile.h"
#include "resources/MainFormLayout.h"
#include "resources/Pictures.h"

namespace pw::resources {
namespace {

TEST(Pictures, DesignFilesDecodeToTheirDesignSizes) {
  auto background = DecodeJpeg(BackgroundJpeg());
  ASSERT_TRUE(background);
  EXPECT_EQ(background->width, layout::kBackgroundWidth);
  EXPECT_EQ(background->height, layout::kBackgroundHeight);
  EXPECT_EQ(background->pixels.size(), 535u * 295u * 3u);
  // Pale blue at the top left, near white at the right edge (B, G, R order).
  const auto& px = background->pixels;
  std::size_t topRight = (10 * 535 + 530) * 3;
  EXPECT_GT(px[topRight], 235);
  EXPECT_GT(px[topRight + 2], 225);

  auto computer = DecodeBmp(ComputerBmp());
  ASSERT_TRUE(computer);
  EXPECT_EQ(computer->width, layout::kComputerPictureWidth);
  EXPECT_EQ(computer->height, layout::kComputerPictureHeight);
  auto card = DecodeBmp(MemoryCardBmp());
  ASSERT_TRUE(card);
  EXPECT_EQ(card->width, layout::kMemoryCardPictureWidth);
  EXPECT_EQ(card->height, layout::kMemoryCardPictureHeight);

  // The design's 32 x 32 image in 16 colours, and the same drawing in 32-bit
  // colour at every size that scaling and Explorer ask for.
  std::optional<std::vector<platform::IcoImage>> images = platform::IcoImages(TrayIconIco());
  ASSERT_TRUE(images);
  std::vector<std::pair<int, int>> held;  // width, bits
  for (const platform::IcoImage& image : *images) {
    EXPECT_EQ(image.width, image.height);
    held.emplace_back(image.width, image.bitCount);
  }
  const std::vector<std::pair<int, int>> expected{{layout::kTrayIconSize, 4}, {16, 32}, {20, 32}, {24, 32}, {32, 32},
                                                  {40, 32}, {48, 32}, {64, 32}, {256, 32}};
  EXPECT_EQ(held, expected);
  EXPECT_EQ(images->front().colours, 16);

  // The size asked for, else the closest (the larger on a tie), in the most colours.
  const struct {
    int asked;
    int width;
  } rows[] = {{16, 16}, {32, 32}, {18, 20}, {30, 32}, {36, 40}, {100, 64}, {200, 256}, {1, 16}};
  for (const auto& row : rows) {
    std::optional<platform::IcoImage> icon = platform::FindIcoImage(TrayIconIco(), row.asked);
    ASSERT_TRUE(icon) << row.asked;
    EXPECT_EQ(icon->width, row.width) << row.asked;
    EXPECT_EQ(icon->bitCount, 32) << row.asked;
  }
}

TEST(Pictures, DamagedBytesAreRefusedNotCrashedOn) {
  std::vector<std::byte> jpeg(BackgroundJpeg().begin(), BackgroundJpeg().end());
  std::vector<std::byte> bmp(ComputerBmp().begin(), ComputerBmp().end());
  EXPECT_FALSE(DecodeJpeg({}));
  EXPECT_FALSE(DecodeJpeg(std::span(jpeg).first(20)));
  EXPECT_FALSE(DecodeBmp(std::span(bmp).first(60))) << "pixel rows missing";
  bmp[28] = std::byte{8};  // 8 bits per pixel
  EXPECT_FALSE(DecodeBmp(bmp));
  std::vector<std::byte> ico(TrayIconIco().begin(), TrayIconIco().end());
  ico[17] = std::byte{0xFF};  // the first image's size pointing past the end
  EXPECT_FALSE(platform::FindIcoImage(ico, 32));
}

}  // namespace
}  // namespace pw::resources
