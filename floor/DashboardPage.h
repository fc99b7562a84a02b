// The dashboard's page, style and script, built into the program: a browser on the floor needs
// nothing from the internet.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "floor/HttpServer.h"

namespace irdload::floor {

extern const std::string kStationPage;      ///< "/" of a station
extern const std::string kFloorPage;        ///< "/" of the fleet
extern const std::string_view kPageStyle;   ///< "/dashboard.css"
extern const std::string_view kPageScript;  ///< "/dashboard.js"

/// "/" as `page`, and the style and script every page shares; nothing for any other path.
std::optional<HttpReply> ServePage(const std::string& path, std::string_view page);

}  // namespace irdload::floor
