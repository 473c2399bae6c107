// The design's pictures decode to the sizes the window expects; bad bytes are refused.
#include <gtest/gtest.h>

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

  std::optional<platform::IcoImage> icon = platform::FindIcoImage(TrayIconIco(), 32);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, layout::kTrayIconSize);
  EXPECT_EQ(icon->colours, 16);
  EXPECT_EQ(icon->bitCount, 4);
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
  ico[14] = std::byte{0xFF};  // image size pointing past the end
  EXPECT_FALSE(platform::FindIcoImage(ico, 32));
}

}  // namespace
}  // namespace pw::resources
