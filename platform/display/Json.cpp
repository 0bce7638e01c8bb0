#include "Json.h"

#include <charconv>
#include <cmath>

#include "kvplatform/base/Text.h"

namespace kv::platform {

namespace {

constexpr int kMaxDepth = 64;
constexpr std::size_t kMaxText = 16 * 1024 * 1024;

}  // namespace

// Recursive descent over the text; every step checks the end of the input
// first, and the depth bound keeps the recursion off the end of the stack.
class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  std::optional<JsonValue> Document() {
    JsonValue value;
    if (!Value(value, 0)) return std::nullopt;
    SkipSpace();
    if (at_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void SkipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool Take(char c) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  bool Value(JsonValue& value, int depth) {
    if (depth > kMaxDepth) return false;
    SkipSpace();
    if (at_ >= text_.size()) return false;
    switch (text_[at_]) {
      case '{':
        return Object(value, depth);
      case '[':
        return Array(value, depth);
      case '"':
        value.kind_ = JsonValue::Kind::String;
        return String(value.string_);
      case 't':
        value.kind_ = JsonValue::Kind::Bool;
        value.bool_ = true;
        return Word("true");
      case 'f':
        value.kind_ = JsonValue::Kind::Bool;
        return Word("false");
      case 'n':
        return Word("null");
      default:
        value.kind_ = JsonValue::Kind::Number;
        return Number(value.number_);
    }
  }

  bool Object(JsonValue& value, int depth) {
    value.kind_ = JsonValue::Kind::Object;
    ++at_;
    if (Take('}')) return true;
    do {
      SkipSpace();
      std::pair<std::string, JsonValue> member;
      if (at_ >= text_.size() || text_[at_] != '"' || !String(member.first)) return false;
      if (!Take(':') || !Value(member.second, depth + 1)) return false;
      value.members_.push_back(std::move(member));
    } while (Take(','));
    return Take('}');
  }

  bool Array(JsonValue& value, int depth) {
    value.kind_ = JsonValue::Kind::Array;
    ++at_;
    if (Take(']')) return true;
    do {
      JsonValue element;
      if (!Value(element, depth + 1)) return false;
      value.elements_.push_back(std::move(element));
    } while (Take(','));
    return Take(']');
  }

  bool Hex4(std::uint32_t& code) {
    if (text_.size() - at_ < 4) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[at_++];
      code <<= 4;
      if (c >= '0' && c <= '9') {
        code |= static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        code |= static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        code |= static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }

  bool String(std::string& out) {
    ++at_;  // the opening quote
    while (at_ < text_.size()) {
      char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return false;
      char escape = text_[at_++];
      switch (escape) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          std::uint32_t code = 0;
          if (!Hex4(code)) return false;
          if (code >= 0xD800 && code < 0xDC00) {
            // A high surrogate counts only with its low half right after it.
            std::uint32_t low = 0;
            if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code < 0xE000) {
            return false;
          }
          AppendUtf8(out, static_cast<char32_t>(code));
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool Number(double& number) {
    // The JSON grammar first (from_chars alone would take "inf", "nan",
    // hexadecimal and a leading "+"), then the conversion.
    std::size_t start = at_;
    auto digits = [&] {
      std::size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (!digits()) return false;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    auto [end, error] = std::from_chars(text_.data() + start, text_.data() + at_, number);
    return error == std::errc() && end == text_.data() + at_ && std::isfinite(number);
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

std::optional<JsonValue> ParseJson(std::string_view text) {
  if (text.size() > kMaxText) return std::nullopt;
  return JsonParser(text).Document();
}

const JsonValue* JsonValue::Member(std::string_view name) const {
  for (const auto& [key, value] : members_) {
    if (key == name) return &value;
  }
  return nullptr;
}

const std::vector<JsonValue>& JsonValue::Elements() const { return elements_; }

std::optional<bool> JsonValue::AsBool() const {
  if (kind_ != Kind::Bool) return std::nullopt;
  return bool_;
}

std::optional<std::string> JsonValue::AsString() const {
  if (kind_ != Kind::String) return std::nullopt;
  return string_;
}

std::optional<double> JsonValue::AsNumber() const {
  if (kind_ != Kind::Number) return std::nullopt;
  return number_;
}

std::optional<std::int64_t> JsonValue::AsInteger(std::int64_t min, std::int64_t max) const {
  if (kind_ != Kind::Number || number_ != std::floor(number_)) return std::nullopt;
  if (number_ < static_cast<double>(min) || number_ > static_cast<double>(max)) return std::nullopt;
  return static_cast<std::int64_t>(number_);
}

}  // namespace kv::platform
