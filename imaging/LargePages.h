#pragma once
// The imaging modules' large-page hint: the platform's facility.
#include "platform/LargePages.h"

namespace pw::imaging {

using platform::AdviseLargePages;

}  // namespace pw::imaging
