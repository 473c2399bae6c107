#pragma once
// The result of a call that can fail: a value, or the Win32 error code that
// says why there is none. Result<void> carries only success or the code.
//
//   Result<FileHandle> Open(...);       return Failure(error::kFileNotFound);
//   PW_TRY(CreateDirectory(folder));    // returns the failure upward
//   PW_TRY_ASSIGN(auto file, Open(...));
//
// In debug builds (NDEBUG not defined) a failure must be looked at: a Result
// destroyed or assigned over while it holds a failure that nobody asked about
// (ok(), operator bool or error()) asserts. A move or a copy hands that duty
// to the new object. A failure dropped on purpose says so: IgnoreFailure().
// The shipped build keeps no flag: a Result is the value or the code alone.
#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/Errors.h"

namespace pw::platform {
namespace detail {

#ifndef NDEBUG
// Whether a failure still waits to be looked at.
class FailureCheck {
 public:
  FailureCheck() = default;
  explicit FailureCheck(bool failed) noexcept : unchecked_(failed) {}
  FailureCheck(const FailureCheck& other) noexcept : unchecked_(std::exchange(other.unchecked_, false)) {}
  FailureCheck(FailureCheck&& other) noexcept : unchecked_(std::exchange(other.unchecked_, false)) {}
  FailureCheck& operator=(const FailureCheck& other) noexcept {
    if (this != &other) {
      Verify();
      unchecked_ = std::exchange(other.unchecked_, false);
    }
    return *this;
  }
  FailureCheck& operator=(FailureCheck&& other) noexcept { return *this = static_cast<const FailureCheck&>(other); }
  ~FailureCheck() { Verify(); }
  void Checked() const noexcept { unchecked_ = false; }

 private:
  void Verify() const noexcept { assert(!unchecked_ && "a failed Result was dropped without being looked at"); }
  mutable bool unchecked_ = false;
};
#else
class FailureCheck {
 public:
  FailureCheck() = default;
  explicit FailureCheck(bool) noexcept {}
  void Checked() const noexcept {}
};
#endif

}  // namespace detail

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
  Result(Error failure) : state_(std::in_place_index<1>, failure), check_(true) {}  // NOLINT: implicit by design

  bool ok() const {
    check_.Checked();
    return state_.index() == 0;
  }
  explicit operator bool() const { return ok(); }
  // The failure's code; kSuccess when there is a value.
  ErrorCode error() const { return ok() ? error::kSuccess : std::get<1>(state_).code; }
  // A failure that the caller drops on purpose (a best-effort call).
  void IgnoreFailure() const { check_.Checked(); }

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
  [[no_unique_address]] detail::FailureCheck check_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;  // success
  Result(Error failure) : ok_(false), error_(failure.code), check_(true) {}  // NOLINT: implicit by design

  bool ok() const {
    check_.Checked();
    return ok_;
  }
  explicit operator bool() const { return ok(); }
  ErrorCode error() const {
    check_.Checked();
    return error_;
  }
  // A failure that the caller drops on purpose (a best-effort call).
  void IgnoreFailure() const { check_.Checked(); }

 private:
  bool ok_ = true;
  ErrorCode error_ = error::kSuccess;
  [[no_unique_address]] detail::FailureCheck check_;
};

#ifdef NDEBUG
// The shipped build pays nothing for the check.
struct PlainOutcome {
  bool ok;
  ErrorCode error;
};
static_assert(sizeof(Result<void>) == sizeof(PlainOutcome));
static_assert(sizeof(Result<int>) == sizeof(std::variant<int, Error>));
static_assert(std::is_trivially_destructible_v<Result<void>> && std::is_trivially_copyable_v<Result<void>>);
#endif

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
