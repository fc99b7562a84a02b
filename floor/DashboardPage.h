// The dashboard's page, style and script, built into the program: a browser on the floor needs
// nothing from the internet.
#pragma once

#include <string_view>

namespace irdload::floor {

extern const std::string_view kStationPage;  ///< "/" of a station
extern const std::string_view kPageStyle;    ///< "/dashboard.css"
extern const std::string_view kPageScript;   ///< "/dashboard.js"

}  // namespace irdload::floor
