// The engine's reply handling fed arbitrary reply streams through a port double. On every pass:
// the state stays within 0..18, the packet index within 0..lastPacketIndex, and every packet on
// the line is exactly a packet of the image.
#include <cstdlib>
#include <deque>
#include <vector>

#include "engine/DownloadEngine.h"
#include "engine/ImageWriter.h"
#include "fuzz/NullHost.h"

namespace {

using namespace irdload;

// Replies come from the input; 0x00 stands for a reply that did not come.
class FuzzPort : public PortLink {
 public:
  FuzzPort(const std::uint8_t* data, std::size_t size) : replies_(data, data + size) {}
  int Open(const std::string&, const std::string&) override { return 1; }
  void Close() override {}
  int Write(const void* buffer, std::uint32_t length) override {
    const auto* b = static_cast<const std::uint8_t*>(buffer);
    lastWrite.assign(b, b + length);
    ++writes;
    return 1;
  }
  int WriteByte(int value) override {
    const std::uint8_t b = static_cast<std::uint8_t>(value);
    return Write(&b, 1);
  }
  int ReadByte(std::uint8_t& b) override {
    if (replies_.empty()) return 0;
    const std::uint8_t r = replies_.front();
    replies_.pop_front();
    if (r == 0x00) return 0;
    b = r;
    return 1;
  }
  OpenFailure LastOpenFailure() const override { return {}; }
  bool exhausted() const { return replies_.empty(); }

  std::vector<std::uint8_t> lastWrite;
  std::size_t writes = 0;

 private:
  std::deque<std::uint8_t> replies_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose a payload of up to 4 KiB: up to five packets.
  const std::size_t payloadSize = (std::size_t{data[0]} << 8 | data[1]) % 4096;
  const auto payload = PatternPayload(payloadSize, static_cast<std::uint32_t>(payloadSize));
  const auto file = ComposeImage(kTypeSingle, payload);

  auto port = std::make_unique<FuzzPort>(data + 2, size - 2);
  FuzzPort* line = port.get();
  EngineOptions options;
  options.manualWorker = true;
  options.limits.retryLimit = 8;
  options.port = std::move(port);
  options.openFile = [&file](const std::string&, std::string*) {
    return std::make_unique<MemoryUpgradeFile>(file);
  };
  fuzz::NullHost host;
  host.first = "image.uuc";
  DownloadEngine engine(std::move(options));
  engine.Init(host, "COM1");
  if (engine.StartDownload() != 1) std::abort();

  const std::uint32_t last = static_cast<std::uint32_t>(payloadSize / kChunkSize);
  for (int pass = 0; pass < 100000; ++pass) {
    const MachineState before = engine.snapshot().machine;
    const std::size_t writes = line->writes;
    if (!engine.RunPass()) break;
    const auto after = engine.snapshot();
    const MachineState& m = after.machine;
    if (m.state < 0 || m.state > STATUS_IDLE) std::abort();
    if (after.payloadHeld && m.packetIndex > m.lastPacketIndex) std::abort();
    if (after.payloadHeld && m.lastPacketIndex != last) std::abort();
    if (line->writes != writes && line->lastWrite.size() == kPacketSize) {
      // Sent from state 9: exactly packet `before.packetIndex` of the image.
      if (before.state != STATUS_SEND_DATA || before.packetIndex > last) std::abort();
      DataPacket expected;
      BuildDataPacket(expected, payload.data(), static_cast<std::uint32_t>(payloadSize), last,
                      before.packetIndex);
      if (!std::equal(expected.begin(), expected.end(), line->lastWrite.begin())) std::abort();
    }
    // With the input used up the connect phase would ask for ever: stop as the operator would.
    if (line->exhausted() && pass > 2000) {
      engine.Finish();
      break;
    }
  }
  if (!engine.IsIdle()) engine.Finish();
  if (engine.snapshot().payloadHeld) std::abort();
  return 0;
}
