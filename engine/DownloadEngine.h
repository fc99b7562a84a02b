// The download engine: owns the serial port, the loaded image and the download state, and runs
// the worker that steps the 19-state link machine (connect, header, data packets, terminate,
// chaining of a pair's second file).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "engine/EngineHost.h"
#include "engine/Image.h"
#include "engine/Link.h"
#include "engine/PortLink.h"

namespace irdload {

enum DownloadState : int {
  STATUS_SEND_CONNECT_REQ = 0,
  STATUS_WAIT_CONNECT_ACK = 1,
  STATUS_SEND_CONNECT_RE_ACK = 2,
  STATUS_WAIT_HEADER_REQ = 3,
  STATUS_SEND_HEADER = 4,
  STATUS_WAIT_HEADER_ACK = 5,
  STATUS_SEND_HEADER_ACK = 6,
  STATUS_SEND_HEADER_NACK = 7,
  STATUS_WAIT_DATA_REQ = 8,
  STATUS_SEND_DATA = 9,
  STATUS_WAIT_DATA_ACK = 10,
  STATUS_SEND_DATA_ACK = 11,
  STATUS_SEND_DATA_NACK = 12,
  STATUS_WAIT_TERMINATE_REQ = 13,
  STATUS_SEND_SUCCESS_TERMINATE_ACK = 14,
  STATUS_SEND_FAIL_TERMINATE_ACK = 15,
  STATUS_END = 16,
  STATUS_ERREND = 17,
  STATUS_IDLE = 18,
};

/// How the last download ended, for front ends that report more than the message box
/// (the command line's exit code).
enum class DownloadOutcome {
  None,        // no download has ended yet
  Success,     // "Download end successfully."
  Failed,      // "Download Fail.": the IRD's failure terminate, or a transfer the PC had to end
  NoResponse,  // the retry limit: "IRD No response: Retry download."
  Stopped,     // stopped from the front end
};

struct EngineOptions {
  /// ReadByte's bound in 1 ms pauses; tests shorten it.
  int readPauses = SerialPort::kDefaultReadPauses;
  /// More failed awaits than this in a row end the download.
  int retryLimit = 1500;
  /// More rejections of the header, or of one packet, in a row than this end the download:
  /// an IRD that rejects everything (a misframed line, an image for another receiver) would
  /// otherwise be answered for ever, since each rejection counts as a reply.
  int rejectLimit = 50;
  /// The port; null means a real SerialPort with `readPauses`.
  std::unique_ptr<PortLink> port;
  /// No worker thread: the caller steps the machine with RunPass() (fuzzers, unit tests).
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
  /// a download was started (or a pair's second file chained), 0 otherwise. A start while a
  /// download runs is refused and leaves that download untouched.
  int StartDownload();
  /// Ends or abandons the download: end message if one is due, payload released, clock
  /// stopped, worker parked. Safe from the front end and the worker at once. Returns 1.
  int Finish();
  bool IsIdle() const { return state_.load() == STATUS_IDLE; }

  /// Waits until the engine is idle and the worker parked; false on timeout.
  bool WaitIdle(std::chrono::milliseconds timeout) const;
  int state() const { return state_.load(); }
  DownloadOutcome lastOutcome() const;
  /// Why the PC ended the last download as failed, when it did (empty otherwise).
  std::string lastFailureReason() const;
  PortLink& port() { return *port_; }

  /// Manual mode only: one pass of the worker loop. Returns false once the engine is idle.
  bool RunPass();

  /// The download state at a pass boundary, for fuzzers and tests (manual mode, or while the
  /// worker is parked).
  struct Snapshot {
    int state;
    ImageKind kind;
    std::uint32_t packetIndex;
    std::uint32_t lastPacketIndex;
    std::uint32_t payloadSize;
    int retryCount;
    bool lastPacketSent;
    bool payloadHeld;
  };
  Snapshot snapshot() const;

  static std::string Mode();

 private:
  void WorkerMain(std::stop_token quit);
  void Pass(std::stop_token stop);
  int StartSteps(bool fromWorker, std::stop_token stop);
  void FinishSteps(std::stop_token stop);
  bool OnWorker() const { return workerId_.load() == std::this_thread::get_id(); }

  bool SendCommand(std::uint8_t command, int next);
  bool AwaitReply(std::uint8_t expected, int next);
  bool SendHeader();
  bool SendDataPacket();
  void FailTransfer(std::string reason);
  void Status(const char* text);
  void ShowOpenFailure(std::stop_token stop);

  EngineOptions options_;
  std::unique_ptr<PortLink> port_;
  EngineHost* host_ = nullptr;

  // Download state. The worker owns these while a download runs; the front end's thread only
  // touches them while the worker is parked (see WorkerMain), so they need no lock of their own.
  ImageKind kind_ = IMAGE_NONE;
  UpgradeImage image_;
  DataPacket packet_{};
  std::uint32_t packetIndex_ = 0;
  int retryCount_ = 0;
  int reportedState_ = STATUS_IDLE;
  bool lastPacketSent_ = false;
  // Guards against a PC and IRD that disagree on the packet count (the line carries no
  // packet numbers): which packet awaits its answer, and whether every packet was accepted.
  bool headerAcked_ = false;
  bool packetOutstanding_ = false;
  bool allPacketsAcked_ = false;
  int headerRejections_ = 0;   // in a row
  int packetRejections_ = 0;   // of the packet in flight, in a row
  bool noResponse_ = false;
  std::string failReason_;
  std::atomic<int> state_{STATUS_IDLE};

  // Worker hand-over.
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  bool resumed_ = false;        // woken for a download
  bool stopRequested_ = false;  // the front end is finishing: stay parked
  bool workerBusy_ = false;     // inside a pass
  bool quit_ = false;
  std::stop_source runStop_;    // releases the worker's waits on the operator
  DownloadOutcome lastOutcome_ = DownloadOutcome::None;
  std::string lastFailureReason_;
  std::atomic<std::thread::id> workerId_{};
  std::jthread worker_;
};

}  // namespace irdload
