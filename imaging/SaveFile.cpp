// PwImgSaveFile: a record as a JPEG file with the kept markers and comments.
#include "imaging/Comments.h"
#include "imaging/Encoder.h"
#include "imaging/FileBytes.h"
#include "imaging/ImageData.h"
#include "imaging/pwimaging.h"
#include "imaging/Trace.h"

extern "C" int PwImgSaveFile(const char* fileName, void* record, int32_t format, int32_t bitsPerPixel,
                             int32_t quality, void* reserved) {
  using namespace pw::imaging;
  if (fileName == nullptr || record == nullptr || reserved != nullptr) return 0;
  if (format != PWIMG_FORMAT_JPEG_EXIF || (bitsPerPixel != 0 && bitsPerPixel != 24)) return 0;
  if (quality < 1 || quality > 100) return 0;
  try {
    const ImageData* image = ImageOf(ReadRecord(record));
    if (image == nullptr) return 0;
    const std::vector<std::string> comments = CurrentComments();
    Encoder encoder;
    bool encoded = false;
    if (image->storage == PWIMG_STORAGE_COEFFICIENTS) encoded = encoder.WriteCoefficients(*image, comments);
    if (image->storage == PWIMG_STORAGE_PIXELS) encoded = encoder.WritePixels(*image, quality, comments);
    return encoded && WriteFileBytes(fileName, encoder.Bytes()) ? 1 : 0;
  } catch (...) {
    pw::imaging::TraceCurrentException("pwimgfil: saving a file");
    return 0;
  }
}
