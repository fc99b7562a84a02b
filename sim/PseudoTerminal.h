// Opening the pseudo-terminal the virtual IRD sits behind.
#pragma once

#include <string>

namespace irdload::sim {

struct PseudoTerminal {
  int master = -1;
  int slave = -1;  // opened once by path to set raw mode; -1 when not kept
  std::string slavePath;
};

// Opens a master (O_RDWR | O_NOCTTY | O_CLOEXEC, then non-blocking), grants and unlocks its
// slave, and puts both ends into raw mode. The slave is opened by path because a new slave
// starts in canonical mode; it stays open when `keepSlaveOpen`. On failure every descriptor
// is closed again and `error` names the call and errno's text.
bool OpenRawPseudoTerminal(bool keepSlaveOpen, PseudoTerminal& out, std::string* error);

// close() that leaves -1 behind; EINTR is not retried (the descriptor is gone either way).
void CloseAndReset(int& fd);

}  // namespace irdload::sim
