// The comments that the next saves write: one text per comment type, kept for
// the whole process, as callers set them with PwImgSetComment.
#pragma once

#include <string>
#include <vector>

namespace pw::imaging {

// The texts set now, in ascending type order (empty types left out).
std::vector<std::string> CurrentComments();

}  // namespace pw::imaging
