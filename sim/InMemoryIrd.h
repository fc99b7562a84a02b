// The virtual IRD in the same process as the PC side, on an in-memory line (serial/MemoryLine.h):
// the IRD's timed session (IrdSession) driven by a thread of its own, which sleeps until the PC
// writes or the session's next byte falls due. It needs no pseudo-terminal, so it works on every
// platform: "Virtual IRD" in the dialogs and `send --simulate` on Windows stand on it.
#pragma once

#include <memory>
#include <string>

#include "serial/MemoryLine.h"
#include "serial/SerialPort.h"
#include "sim/VirtualIrd.h"

namespace irdload::sim {

class InMemoryIrd {
 public:
  /// The port name the device source answers to.
  static constexpr const char* kPortName = "Virtual IRD";

  /// Starts the IRD's thread at once; `options` as for the pseudo-terminal's IRD (the baud rate
  /// paces the replies, the PC's writes are paced by the settings it opens the line with).
  explicit InMemoryIrd(const VirtualIrd::Options& options);
  /// Stops and joins the thread; a PC end still open sees the line hang up.
  ~InMemoryIrd();
  InMemoryIrd(const InMemoryIrd&) = delete;
  InMemoryIrd& operator=(const InMemoryIrd&) = delete;

  /// For SerialPort::SetDeviceSource: kPortName opens this IRD's line, any other name is the
  /// system's. The source holds the line, not the IRD.
  DeviceSource Source() const;

  Report GetReport() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace irdload::sim
