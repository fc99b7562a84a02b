// The download engine: owns the serial port, the loaded image and the protocol machine, and runs
// the worker that performs the machine's actions on the port, one pass at a time, and reports
// what happens to the front end as events.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "engine/EngineHost.h"
#include "engine/Image.h"
#include "engine/Link.h"
#include "engine/PortLink.h"
#include "engine/ProtocolMachine.h"

namespace irdload {

struct EngineOptions {
  /// ReadByte's bound; tests shorten it.
  std::chrono::milliseconds replyWait = SerialPort::kDefaultReplyWait;
  MachineLimits limits;
  /// The port; null means a real SerialPort with `replyWait`.
  std::unique_ptr<PortLink> port;
  /// Opens upgrade files; null means the file system.
  std::function<std::unique_ptr<UpgradeFile>(const std::string& path, std::string* error)> openFile;
  /// How long each file's connect phase (until the IRD asks for the header) may last before
  /// the download ends with no response; 0: call until stopped.
  std::chrono::seconds connectTimeout{0};
  /// No worker thread: the caller steps the engine with RunPass() (fuzzers, unit tests).
  bool manualWorker = false;
};

class DownloadEngine {
 public:
  static constexpr std::uint32_t kBaud = 115200;

  explicit DownloadEngine(EngineOptions options = {});
  /// Ends the worker cleanly, also in the middle of a download.
  ~DownloadEngine();
  DownloadEngine(const DownloadEngine&) = delete;
  DownloadEngine& operator=(const DownloadEngine&) = delete;

  /// Creates the parked worker and opens the port. 1, or 0 when the worker could not be made.
  int Init(EngineHost& host, std::string portName);
  /// Loads the chosen file, reopens the port on the selected name and wakes the worker. 1 when
  /// a download was started, 0 otherwise. A start while a download runs is refused and leaves
  /// that download untouched.
  int StartDownload();
  /// Ends or abandons the download: end message if one is due, payload released, clock
  /// stopped, worker parked. Safe from the front end and the worker at once. Returns 1.
  int Finish();
  bool IsIdle() const { return state_.load() == STATUS_IDLE; }

  /// Waits until the engine is idle and the worker out of its pass; false on timeout.
  bool WaitIdle(std::chrono::milliseconds timeout) const;
  DownloadState state() const { return state_.load(); }
  /// How the last download (or refused start) ended; nothing before the first.
  std::optional<Outcome> lastOutcome() const;

  /// Manual mode only: one pass of the worker. Returns false once the engine is idle.
  bool RunPass();

  /// The download state at a pass boundary, for fuzzers and tests (manual mode, or while the
  /// worker is parked).
  struct Snapshot {
    MachineState machine;
    bool payloadHeld;
  };
  Snapshot snapshot() const;

  static std::string Mode();

  /// What ProbeConnect found.
  enum class Probe {
    Answered,  ///< the IRD acknowledged the connect request
    Quiet,     ///< no acknowledge within the reply bound
    LineLost,  ///< the port reported a hang-up or an I/O error
    NotOpen,   ///< the port could not be opened (PortOpenFailed was emitted)
  };
  /// While idle: one connect request (0xE1) on the selected port, opened first when it is not
  /// open, and the reply bound for its acknowledge. For a front end that must know whether an IRD
  /// is on the line without starting a download. Refused (NotOpen) while a download runs.
  Probe ProbeConnect();
  /// While idle: closes the port, so that the device is free for others until the next start or
  /// probe opens it again.
  void ReleasePort();

 private:
  void WorkerMain();
  void Pass(std::stop_token stop);
  Input Perform(const Action& action, std::stop_token stop);
  bool StartSteps(bool chained, std::stop_token stop);
  std::optional<Refusal> CheckChoice(UpgradeFile& first, const std::string& firstPath);
  bool Refused(bool chained, std::string message, std::string detail);
  void WaitForPassEnd(std::unique_lock<std::mutex>& lk);
  bool ConnectTimedOut();
  bool OpenPort(const std::string& name, std::stop_token stop);
  void FinishSteps(std::stop_token stop);
  void Emit(EngineEvent event) { host_->OnEvent(event); }
  void EmitProgress();
  void EmitFacts(const StepReport& report);
  void DropStaleBytes();
  void NoteWrite(std::size_t bytes);
  void NoteNoReply(const Action& action);
  bool LastPacketIsPadding() const;
  void Publish() { state_.store(machine_.state().state); }
  bool OnWorker() const { return workerId_.load() == std::this_thread::get_id(); }

  EngineOptions options_;
  std::unique_ptr<PortLink> port_;
  EngineHost* host_ = nullptr;

  // The download. Only one thread touches these at a time: the worker inside a pass, or the
  // front end's thread while the worker is out of one (see WorkerMain).
  ProtocolMachine machine_;
  UpgradeImage image_;
  DataPacket packet_{};
  std::optional<std::chrono::steady_clock::time_point> connectingSince_;
  std::atomic<DownloadState> state_{STATUS_IDLE};
  LinkCounts counts_;
  // When the reply to the last write can be late at the earliest: the bytes' line time and the
  // reply bound after the write began. One ReplyLate per awaited reply.
  std::chrono::steady_clock::time_point replyLateAfter_{};
  bool lateCounted_ = false;
  bool portOpen_ = false;

  // Who decides what between the front end's thread and the worker, all under mu_:
  // - running_: a download was started and has not finished; the worker takes passes only then.
  // - inPass_: the worker is inside a pass; a start or a Finish from outside waits for it to end.
  // - runStop_: the current download's stop, requested by a Finish from outside and by the
  //   destructor; it releases any question the worker waits on and stops further passes.
  // - quit_: the engine goes; the worker leaves its loop.
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  bool quit_ = false;
  bool running_ = false;
  bool inPass_ = false;
  mutable int passWaiters_ = 0;  // threads waiting for a pass to end
  mutable int idleWaiters_ = 0;  // threads waiting for the engine to go idle
  std::stop_source runStop_;
  std::optional<Outcome> lastOutcome_;
  std::atomic<std::thread::id> workerId_{};
  std::thread worker_;
};

}  // namespace irdload
