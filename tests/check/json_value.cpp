#include "json_value.h"

#include <cstdlib>

namespace kelmar::check_test {
namespace {

const JsonValue kNull{};

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  std::optional<JsonValue> Document() {
    std::optional<JsonValue> value = Value();
    SkipSpace();
    if (!value || at_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void SkipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\t' || text_[at_] == '\r'))
      ++at_;
  }
  bool Take(char c) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool TakeWord(const char* word) {
    const std::string w(word);
    if (text_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }

  std::optional<JsonValue> Value() {
    SkipSpace();
    if (at_ >= text_.size()) return std::nullopt;
    const char c = text_[at_];
    if (c == '{') return Object();
    if (c == '[') return Array();
    if (c == '"') {
      std::optional<std::string> s = String();
      if (!s) return std::nullopt;
      return JsonValue{std::move(*s)};
    }
    if (TakeWord("null")) return JsonValue{nullptr};
    if (TakeWord("true")) return JsonValue{true};
    if (TakeWord("false")) return JsonValue{false};
    return Number();
  }

  std::optional<JsonValue> Number() {
    const char* begin = text_.c_str() + at_;
    char* end = nullptr;
    const double number = std::strtod(begin, &end);
    if (end == begin) return std::nullopt;
    at_ += static_cast<std::size_t>(end - begin);
    return JsonValue{number};
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return std::nullopt;
      const char e = text_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (at_ + 4 > text_.size()) return std::nullopt;
          char* end = nullptr;
          const std::string hex = text_.substr(at_, 4);
          const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
          if (end != hex.c_str() + 4) return std::nullopt;
          at_ += 4;
          AppendUtf8(out, static_cast<unsigned>(code));
          break;
        }
        default: return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::optional<JsonValue> Array() {
    Take('[');
    auto array = std::make_shared<JsonArray>();
    if (Take(']')) return JsonValue{array};
    do {
      std::optional<JsonValue> element = Value();
      if (!element) return std::nullopt;
      array->push_back(std::move(*element));
    } while (Take(','));
    if (!Take(']')) return std::nullopt;
    return JsonValue{array};
  }

  std::optional<JsonValue> Object() {
    Take('{');
    auto object = std::make_shared<JsonObject>();
    if (Take('}')) return JsonValue{object};
    do {
      SkipSpace();
      std::optional<std::string> key = String();
      if (!key || !Take(':')) return std::nullopt;
      std::optional<JsonValue> member = Value();
      if (!member || !object->emplace(std::move(*key), std::move(*member)).second) return std::nullopt;
    } while (Take(','));
    if (!Take('}')) return std::nullopt;
    return JsonValue{object};
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
  const auto* object = std::get_if<std::shared_ptr<JsonObject>>(&value);
  if (object == nullptr) return kNull;
  const auto found = (*object)->find(key);
  return found != (*object)->end() ? found->second : kNull;
}

const JsonValue& JsonValue::operator[](std::size_t index) const {
  const auto* array = std::get_if<std::shared_ptr<JsonArray>>(&value);
  return array != nullptr && index < (*array)->size() ? (**array)[index] : kNull;
}

std::size_t JsonValue::size() const {
  const auto* array = std::get_if<std::shared_ptr<JsonArray>>(&value);
  return array != nullptr ? (*array)->size() : 0;
}

bool JsonValue::has(const std::string& key) const {
  const auto* object = std::get_if<std::shared_ptr<JsonObject>>(&value);
  return object != nullptr && (*object)->count(key) != 0;
}

std::string JsonValue::str() const {
  const auto* text = std::get_if<std::string>(&value);
  return text != nullptr ? *text : "";
}

bool JsonValue::boolean() const {
  const auto* b = std::get_if<bool>(&value);
  return b != nullptr && *b;
}

double JsonValue::number() const {
  const auto* n = std::get_if<double>(&value);
  return n != nullptr ? *n : 0;
}

std::optional<JsonValue> ParseJson(const std::string& text) { return Parser(text).Document(); }

}  // namespace kelmar::check_test
