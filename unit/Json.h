// JSON text for event lines and unit records: one object written field by field, in order, with
// strings escaped so that any file or port name gives valid UTF-8 JSON.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace irdload::unit {

/// `text` as a quoted JSON string. Control characters are escaped, and bytes that are not valid
/// UTF-8 (a file name may hold any) become U+FFFD, so the result always parses.
std::string JsonString(std::string_view text);

/// An object built in field order; no field is checked for repeats.
class JsonObject {
 public:
  JsonObject& Str(std::string_view key, std::string_view value);
  JsonObject& Int(std::string_view key, std::int64_t value);
  JsonObject& Num(std::string_view key, double value, int decimals);
  JsonObject& Bool(std::string_view key, bool value);
  JsonObject& Null(std::string_view key);
  /// A value that is JSON text already (a nested object or array).
  JsonObject& Raw(std::string_view key, std::string_view json);
  /// The object's text, "{...}".
  std::string Text() const { return body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_ = "{";
};

/// "[a,b,...]" of elements that are JSON text already.
std::string JsonArray(const std::vector<std::string>& elements);

/// UTC time as ISO 8601 with milliseconds, e.g. "2026-12-10T06:52:01.123Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

}  // namespace irdload::unit
