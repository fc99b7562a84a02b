// A unit record read back from its JSON: what the floor needs to keep another station's records
// in its own report folder, units.csv line included, with the code that wrote them.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "unit/Json.h"
#include "unit/UnitRecord.h"

namespace irdload::unit {

/// The time UtcTimestamp wrote ("2026-12-10T06:52:01.123Z"); nothing for any other text.
std::optional<std::chrono::system_clock::time_point> ParseUtcTimestamp(std::string_view text);

/// The record `json` holds, as RecordJson wrote it: RecordJson of the result gives the same
/// JSON again. Nothing, with the reason, for another schema or a field missing or of the wrong
/// kind.
std::optional<UnitRecord> ParseRecord(const Json& json, std::string* error);

}  // namespace irdload::unit
