// A small strict JSON parser for tests: whether a text is one JSON value, and its fields.
#pragma once

#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace irdload::test {

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> fields;

  const JsonValue& operator[](const std::string& key) const {
    static const JsonValue none;
    const auto it = fields.find(key);
    return it == fields.end() ? none : it->second;
  }
  bool Has(const std::string& key) const { return fields.count(key) > 0; }
  std::int64_t Int() const { return static_cast<std::int64_t>(number); }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : s_(text) {}

  /// The value, when the whole text is exactly one JSON value (surrounding spaces allowed).
  std::optional<JsonValue> Parse() {
    JsonValue v;
    Space();
    if (!Value(v, 0)) return std::nullopt;
    Space();
    if (i_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
      ++i_;
  }
  bool Eat(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool Word(const char* w) {
    const std::string word(w);
    if (s_.compare(i_, word.size(), word) != 0) return false;
    i_ += word.size();
    return true;
  }
  bool Value(JsonValue& v, int depth) {
    if (depth > 64 || i_ >= s_.size()) return false;
    const char c = s_[i_];
    if (c == '{') return Object(v, depth);
    if (c == '[') return Array(v, depth);
    if (c == '"') {
      v.kind = JsonValue::Kind::String;
      return String(v.text);
    }
    if (Word("null")) return true;
    if (Word("true") || Word("false")) {
      v.kind = JsonValue::Kind::Bool;
      v.boolean = s_[i_ - 1] == 'e' && s_[i_ - 2] == 'u';
      return true;
    }
    return Number(v);
  }
  bool Number(JsonValue& v) {
    const std::size_t start = i_;
    Eat('-');
    if (i_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[i_]))) return false;
    if (!Eat('0'))
      while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
    if (Eat('.')) {
      if (i_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[i_]))) return false;
      while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    if (Eat('e') || Eat('E')) {
      if (!Eat('+')) Eat('-');
      if (i_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[i_]))) return false;
      while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    v.kind = JsonValue::Kind::Number;
    v.number = std::stod(s_.substr(start, i_ - start));
    return true;
  }
  bool String(std::string& out) {
    if (!Eat('"')) return false;
    while (i_ < s_.size()) {
      const auto c = static_cast<unsigned char>(s_[i_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (i_ >= s_.size()) return false;
      const char e = s_[i_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          if (i_ + 4 > s_.size()) return false;
          for (int k = 0; k < 4; ++k) {
            if (!std::isxdigit(static_cast<unsigned char>(s_[i_ + k]))) return false;
          }
          const unsigned code = std::stoul(s_.substr(i_, 4), nullptr, 16);
          i_ += 4;
          out += code < 0x80 ? std::string(1, static_cast<char>(code)) : std::string("?");
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }
  bool Array(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::Array;
    Eat('[');
    Space();
    if (Eat(']')) return true;
    for (;;) {
      JsonValue item;
      Space();
      if (!Value(item, depth + 1)) return false;
      v.items.push_back(std::move(item));
      Space();
      if (Eat(']')) return true;
      if (!Eat(',')) return false;
    }
  }
  bool Object(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::Object;
    Eat('{');
    Space();
    if (Eat('}')) return true;
    for (;;) {
      Space();
      std::string key;
      if (!String(key)) return false;
      Space();
      if (!Eat(':')) return false;
      Space();
      JsonValue item;
      if (!Value(item, depth + 1)) return false;
      v.fields[key] = std::move(item);
      Space();
      if (Eat('}')) return true;
      if (!Eat(',')) return false;
    }
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

/// Every line of `text` as one JSON object; the first line that is not one in `bad`.
inline std::optional<std::vector<JsonValue>> JsonLines(const std::string& text, std::string* bad) {
  std::vector<JsonValue> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::optional<JsonValue> v = JsonParser(line).Parse();
    if (!v || v->kind != JsonValue::Kind::Object) {
      *bad = line;
      return std::nullopt;
    }
    lines.push_back(std::move(*v));
  }
  if (!text.empty() && text.back() != '\n') {
    *bad = "(no newline at the end)";
    return std::nullopt;
  }
  return lines;
}

}  // namespace irdload::test
