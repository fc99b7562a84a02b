// `irdload-cli doctor [PORT]`: prints the pre-flight checks as pass / warn / fail lines, or as one
// JSON object for scripts.
#pragma once

#include <ostream>
#include <string>

#include "ports/PortChecks.h"

namespace irdload::cli {

struct DoctorOptions {
  std::string port;  // empty: every port found
  bool json = false;
};

/// The udev rule template where the package installs it.
std::string InstalledUdevRuleTemplate();

/// Exit code 0 when every check passed, 1 with warnings, 2 with a failure.
int RunDoctor(const DoctorOptions& options, const CheckSetup& setup, std::ostream& out);

}  // namespace irdload::cli
