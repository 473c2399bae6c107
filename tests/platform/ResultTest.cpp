#include "platform/Result.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace pw::platform {
namespace {

// A chain of steps, each succeeding (nullopt) or failing with a code; the
// chain stops at the first failure and reports it.
struct Chain {
  std::vector<std::optional<ErrorCode>> steps;
  int ran = 0;

  Result<void> Step(std::size_t i) {
    ++ran;
    if (steps[i]) return Failure(*steps[i]);
    return Success();
  }
  Result<int> Value(std::size_t i) {
    PW_TRY(Step(i));
    return static_cast<int>(i) * 10;
  }
  // Steps 0 and 1 through PW_TRY, step 2 through PW_TRY_ASSIGN, into another
  // value type.
  Result<std::string> Run() {
    PW_TRY(Step(0));
    PW_TRY(Step(1));
    PW_TRY_ASSIGN(const int got, Value(2));
    return std::to_string(got);
  }
};

TEST(ResultTest, TryStopsAtTheFirstFailureAndPassesItsCodeUp) {
  struct Row {
    const char* name;
    std::vector<std::optional<ErrorCode>> steps;
    bool ok;
    ErrorCode error;
    int ran;
  };
  const Row rows[] = {
      {"all succeed", {std::nullopt, std::nullopt, std::nullopt}, true, error::kSuccess, 3},
      {"first fails", {error::kAccessDenied, std::nullopt, std::nullopt}, false, error::kAccessDenied, 1},
      {"second fails", {std::nullopt, error::kDiskFull, error::kFileNotFound}, false, error::kDiskFull, 2},
      {"assigned step fails", {std::nullopt, std::nullopt, error::kSharingViolation}, false, error::kSharingViolation, 3},
      // A call that fails without a last error is still a failure upward.
      {"fails with no code", {std::nullopt, error::kSuccess, std::nullopt}, false, error::kSuccess, 2},
  };
  for (const Row& row : rows) {
    Chain chain{row.steps, 0};
    const Result<std::string> result = chain.Run();
    EXPECT_EQ(result.ok(), row.ok) << row.name;
    EXPECT_EQ(static_cast<bool>(result), row.ok) << row.name;
    EXPECT_EQ(result.error(), row.error) << row.name;
    EXPECT_EQ(chain.ran, row.ran) << row.name;
    if (row.ok) {
      EXPECT_EQ(result.value(), "20") << row.name;
    }
  }
}

TEST(ResultTest, ValuesFailuresAndVoidReportThemselves) {
  const Result<int> value = 7;
  EXPECT_TRUE(value.ok());
  EXPECT_EQ(value.error(), error::kSuccess);
  EXPECT_EQ(*value, 7);
  EXPECT_EQ(value.value_or(-1), 7);

  const Result<int> failed = Failure(error::kNotReady);
  EXPECT_FALSE(failed.ok());
  EXPECT_FALSE(static_cast<bool>(failed));
  EXPECT_EQ(failed.error(), error::kNotReady);
  EXPECT_EQ(failed.value_or(-1), -1);
  EXPECT_THROW(static_cast<void>(failed.value()), std::bad_variant_access);

  // A value equal to an error code's number is still a value.
  const Result<ErrorCode> code = error::kAccessDenied;
  EXPECT_TRUE(code.ok());
  EXPECT_EQ(code.error(), error::kSuccess);

  EXPECT_TRUE(Success().ok());
  EXPECT_TRUE(Result<void>{}.ok());
  const Result<void> refused = Failure(error::kAccessDenied);
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.error(), error::kAccessDenied);
  const Result<void> silent = Failure(error::kSuccess);
  EXPECT_FALSE(silent.ok());
}

TEST(ResultTest, MoveOnlyValuesPassThroughTryAssign) {
  auto make = [](bool fail) -> Result<std::unique_ptr<int>> {
    if (fail) return Failure(error::kNotEnoughMemory);
    return std::make_unique<int>(42);
  };
  auto take = [&](bool fail) -> Result<int> {
    std::unique_ptr<int> owned;
    PW_TRY_ASSIGN(owned, make(fail));
    return *owned + 1;
  };
  EXPECT_EQ(take(false).value(), 43);
  EXPECT_EQ(take(true).error(), error::kNotEnoughMemory);

  Result<std::unique_ptr<int>> held = make(false);
  const std::unique_ptr<int> moved = std::move(held).value();
  EXPECT_EQ(*moved, 42);
}

// A failure must be looked at before it goes; a move or a copy hands the duty
// on, and a failure dropped on purpose says so. Debug builds assert; the
// shipped build keeps no flag at all.
TEST(ResultTest, AFailureNobodyLookedAtAssertsInDebugBuilds) {
#ifndef NDEBUG
  EXPECT_DEATH({ const Result<void> dropped = Failure(error::kAccessDenied); }, "dropped without being looked at");
  EXPECT_DEATH({ const Result<int> dropped = Failure(error::kFileNotFound); }, "dropped without being looked at");
  EXPECT_DEATH(
      {
        Result<int> overwritten = Failure(error::kFileNotFound);
        overwritten = 3;
      },
      "dropped without being looked at");
  EXPECT_DEATH(
      {
        Result<void> first = Failure(error::kAccessDenied);
        const Result<void> second = std::move(first);
      },
      "dropped without being looked at")
      << "the move hands the duty to the new object";
#else
  EXPECT_EQ(sizeof(Result<int>), sizeof(std::variant<int, Error>));
#endif
  // Looked at in any of these ways, or dropped on purpose: nothing asserts.
  const auto fail = [] { return Result<std::string>(Failure(error::kAccessDenied)); };
  EXPECT_FALSE(fail().ok());
  EXPECT_FALSE(static_cast<bool>(fail()));
  EXPECT_EQ(fail().error(), error::kAccessDenied);
  EXPECT_EQ(fail().value_or("fallback"), "fallback");
  fail().IgnoreFailure();
  Result<std::string> first = fail();
  const Result<std::string> second = std::move(first);
  EXPECT_EQ(second.error(), error::kAccessDenied) << "the moved-from one owes nothing";
  [[maybe_unused]] const Result<void> success = Success();  // a success needs no look
}

}  // namespace
}  // namespace pw::platform
