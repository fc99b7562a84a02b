// units.csv: one line per unit, safe to open in a spreadsheet and readable by a strict CSV
// reader. The JSON record keeps every text exactly; the CSV keeps what a spreadsheet can take.
#pragma once

#include <string>
#include <string_view>

#include "unit/UnitRecord.h"

namespace irdload::unit {

/// units.csv's first line, and one line of it; both end in '\n'.
std::string CsvHeader();
std::string CsvLine(const UnitRecord& record);

/// One cell: valid UTF-8 (other bytes become U+FFFD); a text that starts with =, +, -, @, a tab
/// or a CR gets a leading apostrophe, so that a spreadsheet shows it instead of running it as a
/// formula; line breaks become spaces (one unit is one line); quoted when it holds a comma, a
/// quote or a line break.
std::string CsvCell(std::string_view text);

}  // namespace irdload::unit
