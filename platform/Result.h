#pragma once
// The result of a call that can fail: a value, or the Win32 error code that
// says why there is none. Result<void> carries only success or the code.
//
//   Result<FileHandle> Open(...);       return Failure(error::kFileNotFound);
//   PW_TRY(CreateDirectory(folder));    // returns the failure upward
//   PW_TRY_ASSIGN(auto file, Open(...));
#include <utility>
#include <variant>

#include "platform/Errors.h"

namespace pw::platform {

// A failure on its way into a Result. A failure keeps its code as given, even
// 0: a call that fails without setting the last error still failed.
struct Error {
  ErrorCode code = error::kSuccess;
};

constexpr Error Failure(ErrorCode code) { return Error{code}; }

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Error failure) : state_(std::in_place_index<1>, failure) {}     // NOLINT: implicit by design

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  // The failure's code; kSuccess when there is a value.
  ErrorCode error() const { return ok() ? error::kSuccess : std::get<1>(state_).code; }

  // The value; asking a failure for it is a programming error (it throws
  // std::bad_variant_access).
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  template <class U>
  T value_or(U&& fallback) const& {
    return ok() ? value() : static_cast<T>(std::forward<U>(fallback));
  }
  // The same for a value that can only move (a handle): moves it out.
  template <class U>
  T value_or(U&& fallback) && {
    return ok() ? std::move(value()) : static_cast<T>(std::forward<U>(fallback));
  }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;  // success
  Result(Error failure) : ok_(false), error_(failure.code) {}  // NOLINT: implicit by design

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  ErrorCode error() const { return error_; }

 private:
  bool ok_ = true;
  ErrorCode error_ = error::kSuccess;
};

inline Result<void> Success() { return {}; }

}  // namespace pw::platform

// Evaluates a Result-returning expression and, when it failed, returns its
// code from the enclosing function (which returns some Result).
#define PW_TRY(expr)                                                          \
  do {                                                                        \
    if (auto pw_try_result_ = (expr); !pw_try_result_) {                      \
      return ::pw::platform::Error{pw_try_result_.error()};                   \
    }                                                                         \
  } while (false)

// Declares or assigns lhs from the value of a Result-returning expression, or
// returns its failure from the enclosing function. One per line.
#define PW_TRY_ASSIGN(lhs, expr) PW_TRY_ASSIGN_AT_(PW_TRY_CONCAT_(pw_try_value_, __LINE__), lhs, expr)
#define PW_TRY_CONCAT_(a, b) PW_TRY_CONCAT_INNER_(a, b)
#define PW_TRY_CONCAT_INNER_(a, b) a##b
#define PW_TRY_ASSIGN_AT_(tmp, lhs, expr)              \
  auto tmp = (expr);                                   \
  if (!tmp) return ::pw::platform::Error{tmp.error()}; \
  lhs = std::move(tmp).value()
