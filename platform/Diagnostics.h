#pragma once
// What the program reports about its own code: the readable name of a type,
// and the code address a function returns to.
#include <string>
#include <typeinfo>

namespace pw::platform {

// The type's name as written in the source ("pw::service::OsError"); the
// compiler's own name when it cannot be made readable. Any thread.
std::string TypeName(const std::type_info& type);

// The address the calling function will return to, that is a code address in
// its caller. Always inlined, so that it is the caller's frame it reads.
[[gnu::always_inline]] inline const void* ReturnAddress() { return __builtin_return_address(0); }

}  // namespace pw::platform
