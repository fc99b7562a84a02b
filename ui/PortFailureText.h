// Why a port did not open, in the operator's language: worded here from the reason's values when
// the installed translation has that sentence; otherwise the English text the ports layer gave,
// exactly as the command line, the records and JSON events show it.
#pragma once

#include <QString>
#include <string>

#include "serial/OpenFailureReason.h"

namespace irdload::ui {

QString PortFailureText(const OpenFailureReason& reason, const std::string& english);

}  // namespace irdload::ui
