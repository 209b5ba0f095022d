// Result<T> holds either the value a step produced or the Failure that ended
// it. Failures are returned, never thrown, so they travel unchanged to the
// run driver, which alone prints and exits.
#pragma once

#include <utility>
#include <variant>

#include "document/ocr_error.h"

namespace brindlewox {

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}            // NOLINT(google-explicit-constructor)
  Result(Failure failure) : state_(std::move(failure)) {}  // NOLINT(google-explicit-constructor)
  Result(OCRError error)
      : state_(Failure(std::move(error))) {}  // NOLINT(google-explicit-constructor)
  Result(PlatformError error)
      : state_(Failure(std::move(error))) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<T>(state_); }
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }
  const Failure& failure() const { return std::get<Failure>(state_); }

 private:
  std::variant<T, Failure> state_;
};

// A step that produces nothing but may fail.
struct Done {};
using Status = Result<Done>;

}  // namespace brindlewox
