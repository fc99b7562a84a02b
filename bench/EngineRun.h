// One whole download by the engine in this process, over a real SerialPort on a fresh virtual
// IRD's pseudo-terminal, with the IRD's timing record.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/PortLink.h"
#include "sim/VirtualIrd.h"

namespace irdload::bench {

struct EngineRun {
  bool ok = false;
  std::string error;  // why it did not succeed
  sim::Report report;
};

// Sends the single-file image at `imagePath` (whose payload is `payload`) to a virtual IRD
// started with `irdOptions` plus timing. `port` replaces the engine's own SerialPort when given;
// `atEnd` runs once the download succeeded, while the engine (and its port) still exist.
// Succeeds only when the engine reports success and the IRD holds the payload byte for byte.
EngineRun RunEngineDownload(const std::string& imagePath, const std::vector<std::uint8_t>& payload,
                            sim::VirtualIrd::Options irdOptions, std::unique_ptr<PortLink> port,
                            std::chrono::seconds bound, const std::function<void()>& atEnd = {});

// Line time of the protocol's whole exchange for one file of `payloadBytes` at `baud`: the
// handshake's 72 bytes and 1027 per packet, each taking 10 bit times.
std::chrono::nanoseconds ProtocolLimit(std::size_t payloadBytes, std::uint32_t baud);

// A bound for a transfer whose line time is `lineTime`: generous, for a loaded machine.
std::chrono::seconds TransferBound(std::chrono::nanoseconds lineTime);

}  // namespace irdload::bench
