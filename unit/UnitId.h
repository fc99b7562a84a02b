// A unit's id as the operator types or scans it: what a record can hold as given, in the JSON,
// in units.csv and on a label printer, is bounded, printable and valid UTF-8. A scanner that
// misreads a barcode must be told before anything is sent, not leave a record nobody can read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace irdload::unit {

inline constexpr std::size_t kMaxUnitIdCharacters = 128;

/// Why `id` cannot name a unit, in a sentence for the operator; nothing when it can. An empty id
/// (no id) is fine.
std::optional<std::string> UnitIdRefusal(std::string_view id);

/// `id` as a person can be shown it: valid UTF-8, control characters as \xNN, cut after
/// kMaxUnitIdCharacters with "...".
std::string ShownUnitId(std::string_view id);

}  // namespace irdload::unit
