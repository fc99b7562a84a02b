#include "station/NextUnit.h"

namespace irdload::station {
namespace {

using namespace std::chrono_literals;

// Between connect requests while waiting for a quiet line.
constexpr auto kProbeInterval = 200ms;

class PromptWait final : public NextUnitWait {
 public:
  explicit PromptWait(bool askUnitId) : askUnitId_(askUnitId) {}
  std::string Hint() const override {
    return askUnitId_ ? "scan or type the next unit's id" : "press Enter for the next unit";
  }
  bool AsksOperator() const override { return true; }
  bool Wait(PortWaits& port, std::uint64_t) override {
    port.ShowWaiting(Hint());
    return port.WaitForGo(std::nullopt);
  }

 private:
  const bool askUnitId_;
};

class ReplugWait final : public NextUnitWait {
 public:
  std::string Hint() const override {
    return "unplug the adapter and plug it in again for the next unit";
  }
  bool AsksOperator() const override { return false; }
  bool Wait(PortWaits& port, std::uint64_t arrivalsAtUnit) override {
    port.ShowWaiting(Hint());
    return port.WaitForGo(arrivalsAtUnit);
  }
};

// A receiver that rebooted into its new firmware stops answering the loader's connect request.
class QuietWait final : public NextUnitWait {
 public:
  explicit QuietWait(std::chrono::seconds quiet) : quiet_(quiet) {}
  std::string Hint() const override {
    return "waiting until the IRD leaves connect requests unanswered for " +
           std::to_string(quiet_.count()) + " s";
  }
  bool AsksOperator() const override { return false; }
  bool Wait(PortWaits& port, std::uint64_t) override {
    port.ShowWaiting(Hint());
    auto lastAnswer = std::chrono::steady_clock::now();
    for (;;) {
      if (port.Stopping()) return false;
      const DownloadEngine::Probe probe = port.Probe();
      if (probe == DownloadEngine::Probe::LineLost || probe == DownloadEngine::Probe::NotOpen) {
        if (!port.WaitForLine(probe == DownloadEngine::Probe::LineLost)) return false;
        // Another adapter, or the same one back: its IRD must stay quiet as long again.
        port.ShowWaiting(Hint());
        lastAnswer = std::chrono::steady_clock::now();
        continue;
      }
      const auto now = std::chrono::steady_clock::now();
      if (probe == DownloadEngine::Probe::Answered) lastAnswer = now;
      if (now - lastAnswer >= quiet_) return true;
      if (port.GoWithin(kProbeInterval)) return true;
    }
  }

 private:
  const std::chrono::seconds quiet_;
};

}  // namespace

std::unique_ptr<NextUnitWait> MakeNextUnitWait(NextUnit mode, std::chrono::seconds quiet,
                                               bool askUnitId) {
  switch (mode) {
    case NextUnit::Prompt:
      return std::make_unique<PromptWait>(askUnitId);
    case NextUnit::Replug:
      return std::make_unique<ReplugWait>();
    case NextUnit::Quiet:
      return std::make_unique<QuietWait>(quiet);
  }
  return std::make_unique<PromptWait>(askUnitId);
}

}  // namespace irdload::station
