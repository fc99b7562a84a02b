// This system's advice for a SerialPort: an open failure worded for the operator (on Linux: the
// adapter that lost its tty, who holds the port, which group to join; on Windows: a port that
// does not exist or that another program has), and the FTDI latency timer lowered where sysfs
// lets this user.
#pragma once

#include "serial/SerialPort.h"

namespace irdload {

PortAdvice SystemPortAdvice();

}  // namespace irdload
