// JSON for event lines, unit records and the station's snapshot, through nlohmann/json: objects
// keep their fields in the order they were set, and every text written is valid UTF-8 whatever
// bytes a file or port name held.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace irdload::unit {

/// A JSON value whose objects keep their fields in the order set.
using Json = nlohmann::ordered_json;

/// `value` as one line of text. Bytes that are not valid UTF-8 become U+FFFD, one for each
/// byte; control characters and DEL are escaped, so that a line shown on a terminal shows them.
std::string JsonText(const Json& value);

/// `text` as a quoted JSON string, as JsonText writes it.
std::string JsonString(std::string_view text);

/// `value` rounded to `decimals` places: a whole number for none; null when it is not finite
/// (JSON has no infinity or NaN).
Json JsonNumber(double value, int decimals);

/// `text`, or null when it is empty.
Json TextOrNull(const std::string& text);

/// UTC time as ISO 8601 with milliseconds, e.g. "2026-12-10T06:52:01.123Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

}  // namespace irdload::unit
