#pragma once

// Errors are values: every fallible operation returns Result<T> or Status and
// the caller either handles the failure or hands it up unchanged.

#include <expected>
#include <string>
#include <utility>

namespace kv {

enum class ErrorCode {
  Failed,           // any failure without a more precise code
  NotFound,         // a key, value, file or object that does not exist
  Busy,             // a store locked by another process past the timeout
  Corrupt,          // a file that is not what it claims to be
  InvalidArgument,  // a caller passed something the operation cannot take
};

struct Error {
  ErrorCode code = ErrorCode::Failed;
  std::string message;
};

template <class T>
using Result = std::expected<T, Error>;
using Status = Result<void>;

[[nodiscard]] inline std::unexpected<Error> Fail(std::string message) {
  return std::unexpected<Error>(Error{ErrorCode::Failed, std::move(message)});
}

[[nodiscard]] inline std::unexpected<Error> Fail(ErrorCode code, std::string message) {
  return std::unexpected<Error>(Error{code, std::move(message)});
}

// Prefixes the failure with what the caller was doing, so the message names
// the whole path from the user's action down to the cause.
[[nodiscard]] inline std::unexpected<Error> Fail(const Error& cause, const std::string& context) {
  return std::unexpected<Error>(Error{cause.code, context + ": " + cause.message});
}

[[nodiscard]] inline Status Ok() { return {}; }

}  // namespace kv

// g++ 12's std::expected has no and_then, so failures are handed up with
// these two statements.
#define KV_CONCAT_INNER(a, b) a##b
#define KV_CONCAT(a, b) KV_CONCAT_INNER(a, b)

// Returns the failure of a Status or Result expression from the enclosing function.
#define KV_TRY(expr)                                                   \
  do {                                                                 \
    if (auto kv_try_result_ = (expr); !kv_try_result_)                 \
      return std::unexpected(std::move(kv_try_result_).error());       \
  } while (0)

// Declares `decl` from the value of a Result expression, or returns its failure.
#define KV_TRY_ASSIGN(decl, expr)                                      \
  auto KV_CONCAT(kv_try_value_, __LINE__) = (expr);                    \
  if (!KV_CONCAT(kv_try_value_, __LINE__))                             \
    return std::unexpected(std::move(KV_CONCAT(kv_try_value_, __LINE__)).error()); \
  decl = std::move(*KV_CONCAT(kv_try_value_, __LINE__))
