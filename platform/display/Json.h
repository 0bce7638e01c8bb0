#pragma once

// A small JSON reader for what desktop tools print (compositors' output
// lists). It takes any bytes: a text that is not JSON, nests deeper than a
// sane reply, or holds a number that is not finite is refused as a whole,
// never half read.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::platform {

class JsonValue {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };

  Kind GetKind() const { return kind_; }
  bool IsObject() const { return kind_ == Kind::Object; }
  bool IsArray() const { return kind_ == Kind::Array; }

  // The member `name` of an object (the first of that name), or nullptr
  // for a missing member or a value that is no object.
  const JsonValue* Member(std::string_view name) const;
  // The elements of an array; empty for anything else.
  const std::vector<JsonValue>& Elements() const;

  std::optional<bool> AsBool() const;
  std::optional<std::string> AsString() const;
  // A number that is a whole number within [min, max], else nullopt.
  std::optional<std::int64_t> AsInteger(std::int64_t min, std::int64_t max) const;
  std::optional<double> AsNumber() const;

 private:
  friend class JsonParser;
  Kind kind_ = Kind::Null;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  std::vector<JsonValue> elements_;
  std::vector<std::pair<std::string, JsonValue>> members_;
};

// The value `text` holds, or nullopt when it is not one whole JSON value
// (surrounding white space aside), nests more than 64 levels or is longer
// than 16 MiB.
std::optional<JsonValue> ParseJson(std::string_view text);

}  // namespace kv::platform
