#pragma once
// Naming's side of settling leftover transfer files: the image folders and
// image numbers exactly as storage/DestinationNaming counts them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/TransferRecovery.h"
#include "storage/DestinationNaming.h"

namespace pw::ui {

class LeftoverNaming final : public scanner::SettleNaming {
 public:
  LeftoverNaming(std::string location, std::string folderPrefix, std::string filePrefix)
      : location_(std::move(location)), folderPrefix_(std::move(folderPrefix)), filePrefix_(std::move(filePrefix)) {}

  std::vector<std::string> ImageFolders() override;
  std::vector<platform::FindEntry> ListFolder(const std::string& folder) override;
  bool IsImageName(std::string_view name) const override;
  std::optional<std::string> FreeImageName(std::int32_t n) const override;
  void TakeImageName(const std::string& name) override;

 private:
  std::string location_;
  std::string folderPrefix_;
  std::string filePrefix_;
  storage::ImageFolderNames names_;
};

}  // namespace pw::ui
