// A small JSON reader for checking kelmar-check's --json output: it accepts
// only well-formed JSON, so a test that reads the output also checks that it
// is valid.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kelmar::check_test {

struct JsonValue;
using JsonArray = std::vector<JsonValue>;
using JsonObject = std::map<std::string, JsonValue>;

struct JsonValue {
  std::variant<std::nullptr_t, bool, double, std::string, std::shared_ptr<JsonArray>, std::shared_ptr<JsonObject>>
      value;

  bool is_null() const { return std::holds_alternative<std::nullptr_t>(value); }
  // The member `key` of an object; a null value when absent or not an object.
  const JsonValue& operator[](const std::string& key) const;
  // The element `index` of an array; a null value when absent.
  const JsonValue& operator[](std::size_t index) const;
  std::size_t size() const;  // of an array; 0 otherwise
  bool has(const std::string& key) const;

  std::string str() const;  // a string's text; "" otherwise
  bool boolean() const;     // false unless true
  double number() const;    // 0 unless a number
};

// The value that `text` holds, or none when it is not exactly one JSON value
// (white space around it aside).
std::optional<JsonValue> ParseJson(const std::string& text);

}  // namespace kelmar::check_test
