#include "engine/DownloadEngine.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <system_error>

#include "serial/PortDevice.h"

namespace irdload {

DownloadEngine::DownloadEngine(EngineOptions options)
    : options_(std::move(options)), machine_(options_.limits) {
  port_ = options_.port ? std::move(options_.port)
                        : std::make_unique<SerialPortLink>(options_.replyWait);
  if (!options_.openFile) options_.openFile = OpenUpgradeFile;
}

DownloadEngine::~DownloadEngine() {
  {
    std::lock_guard lk(mu_);
    runStop_.request_stop();
    quit_ = true;
  }
  cv_.notify_all();
  if (worker_.joinable()) worker_.join();
}

std::string DownloadEngine::Mode() {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d,N,8,1", static_cast<int>(kBaud));
  return buf;
}

int DownloadEngine::Init(EngineHost& host, std::string portName) {
  host_ = &host;
  if (!options_.manualWorker && !worker_.joinable()) {
    try {
      worker_ = std::thread([this] { WorkerMain(); });
    } catch (const std::system_error&) {
      host.MessageBox("JTxThread Create Fail", "", {});
      return 0;
    }
  }
  OpenPort(portName, {});
  machine_.SetKind(IMAGE_NONE);
  return 1;
}

void DownloadEngine::WorkerMain() {
  workerId_ = std::this_thread::get_id();
  port_->PrepareIoThread();
  std::unique_lock lk(mu_);
  for (;;) {
    inPass_ = false;
    // Only a start or a finish from outside waits for a pass to end, and a front end waits for
    // the download's end: waking nobody every pass keeps its thread asleep while packets go.
    if (passWaiters_ > 0 || (idleWaiters_ > 0 && !running_)) cv_.notify_all();
    // Parked between passes, never inside one: a stop never finds the worker holding the
    // payload or half-way through a transfer.
    // A plain predicate wait: a wait that a stop token wakes through a stop callback can miss
    // its wake-up with MinGW's threads, and the engine's end would then wait for ever.
    cv_.wait(lk, [&] { return quit_ || (running_ && !runStop_.stop_requested()); });
    if (quit_) return;
    inPass_ = true;
    const std::stop_token stop = runStop_.get_token();
    lk.unlock();
    Pass(stop);
    lk.lock();
  }
}

bool DownloadEngine::RunPass() {
  if (machine_.idle()) return false;
  Pass(runStop_.get_token());
  return !machine_.idle();
}

DownloadEngine::Snapshot DownloadEngine::snapshot() const {
  return {machine_.state(), image_.payload != nullptr};
}

int DownloadEngine::StartDownload() {
  if (host_ == nullptr) return 0;
  {
    std::unique_lock lk(mu_);
    if (running_) return 0;
    WaitForPassEnd(lk);
    runStop_ = std::stop_source();
  }
  counts_ = {};
  if (!StartSteps(false, {})) return 0;
  {
    std::lock_guard lk(mu_);
    running_ = true;
  }
  cv_.notify_all();
  return 1;
}

bool DownloadEngine::StartSteps(bool chained, std::stop_token stop) {
  const auto choosePath = [&]() -> std::optional<std::string> {
    switch (machine_.state().kind) {
      case IMAGE_NONE:
        return host_->FirstFileName();
      case IMAGE_FIRST:
        return host_->SecondFileName();
      default:
        machine_.SetKind(IMAGE_NONE);
        return std::nullopt;
    }
  };
  std::optional<std::string> path = choosePath();
  if (!path) return Refused(chained, "", "");
  std::string why;
  std::unique_ptr<UpgradeFile> file;
  if (!path->empty()) file = options_.openFile(*path, &why);
  if (!file) {
    if (!host_->SelectFiles(stop)) return Refused(chained, "", "");
    path = choosePath();
    if (!path) return Refused(chained, "", "");
    file = options_.openFile(*path, &why);
    if (!file) {
      host_->MessageBox("Open Error!", why, stop);
      return Refused(chained, "Open Error!", why);
    }
  }
  if (!chained) {
    if (const std::optional<Refusal> refusal = CheckChoice(*file, *path)) {
      host_->MessageBox(refusal->message, refusal->detail, stop);
      return Refused(chained, refusal->message, refusal->detail);
    }
  }
  ImageKind kind = machine_.state().kind;
  const ImageCheck check = LoadImage(*file, kind, image_);
  file.reset();
  if (check.sized) Emit(ImageSized{check.packets()});
  if (check.typed) {
    Emit(ImageAccepted{*path, kind, check.typeCode, check.payloadSize, check.packets(),
                       EstimateSeconds(check.payloadSize, check.lastPacketIndex)});
  }
  if (!check.loads()) {
    host_->MessageBox(check.refusal, "", stop);
    // With nothing running, a kind left half-set by this load would make the next start send
    // the pair's second file alone. A chained load that fails ends the run as it is.
    if (!chained) machine_.SetKind(IMAGE_NONE);
    return Refused(chained, check.refusal, *path);
  }
  if (chained && kind != IMAGE_SECOND) {
    // Checked at the start, so the file changed since: sending it could chain for ever.
    image_.payload.reset();
    host_->MessageBox("Invalid Second file", *path + ": not typed as the second file of a pair",
                      stop);
    return Refused(chained, "Invalid Second file", *path);
  }
  machine_.SetKind(kind);
  Emit(ImageLoaded{*path, image_.payloadSize, image_.sha256});
  // The chained start's connect request begins when the machine takes SecondFileLoaded.
  if (!chained) machine_.Begin(image_.lastPacketIndex, LastPacketIsPadding());
  Publish();
  port_->Close();
  portOpen_ = false;
  OpenPort(host_->SelectedPortName(), stop);
  return true;
}

std::optional<Refusal> DownloadEngine::CheckChoice(UpgradeFile& first,
                                                   const std::string& firstPath) {
  const ImageCheck seen = InspectImage(first, machine_.state().kind);
  if (!seen.sized) return std::nullopt;  // the load refuses it with its own message
  const std::string secondPath = host_->SecondFileName();
  std::optional<std::uint32_t> secondType;
  if (!secondPath.empty()) {
    // The second file is checked as completely as the first before a byte is sent: found wrong
    // only once the first file is on the IRD, the pair could never be completed.
    std::string why;
    const std::unique_ptr<UpgradeFile> second = options_.openFile(secondPath, &why);
    if (!second) return Refusal{"Open Error!", secondPath + ": " + why};
    const ImageCheck other = InspectImage(*second, IMAGE_FIRST);
    if (!other.sized) return Refusal{other.refusal, secondPath + ": the second file of the pair"};
    secondType = other.typeCode;
  }
  return CheckChoiceTypes(firstPath, seen.typeCode, secondPath, secondType);
}

bool DownloadEngine::Refused(bool chained, std::string message, std::string detail) {
  if (chained) return false;
  Outcome outcome{OutcomeKind::FileRefused, FailureReason::None, std::move(message),
                  std::move(detail)};
  {
    std::lock_guard lk(mu_);
    lastOutcome_ = outcome;
  }
  Emit(DownloadEnded{std::move(outcome), {}});
  return false;
}

bool DownloadEngine::OpenPort(const std::string& name, std::stop_token stop) {
  portOpen_ = port_->Open(name, Mode()) != 0;
  if (portOpen_) {
    Emit(PortOpened{name});
    return true;
  }
  // The engine carries on: a port that did not open finds no answer, and the connect request
  // repeats until the operator starts again on another port.
  const OpenFailure failure = port_->LastOpenFailure();
  Emit(PortOpenFailed{name, failure.message, failure.detail, failure.reason});
  host_->MessageBox(failure.message, failure.detail, stop);
  return false;
}

int DownloadEngine::Finish() {
  if (host_ == nullptr) return 1;
  if (options_.manualWorker || OnWorker()) {
    FinishSteps(runStop_.get_token());
    return 1;
  }
  {
    std::unique_lock lk(mu_);
    runStop_.request_stop();
    WaitForPassEnd(lk);
  }
  FinishSteps({});
  return 1;
}

void DownloadEngine::FinishSteps(std::stop_token stop) {
  std::optional<Outcome> outcome;
  if (!machine_.idle()) {
    outcome = machine_.Finish();
    Emit(DownloadEnded{*outcome, counts_});
    // The retry limit's message was shown at its pass; a stop shows none.
    if (outcome->kind == OutcomeKind::Success || outcome->kind == OutcomeKind::Failed) {
      host_->MessageBox(outcome->message, outcome->detail, stop);
    }
  }
  image_.payload.reset();
  image_.payloadSize = 0;
  if (outcome) Emit(ClockStopped{});
  // Idle only now: the download runs until its end message has been seen.
  Publish();
  {
    std::lock_guard lk(mu_);
    running_ = false;
    if (outcome) lastOutcome_ = std::move(outcome);
  }
  cv_.notify_all();
}

void DownloadEngine::WaitForPassEnd(std::unique_lock<std::mutex>& lk) {
  ++passWaiters_;
  cv_.wait(lk, [&] { return !inPass_; });
  --passWaiters_;
}

bool DownloadEngine::WaitIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock lk(mu_);
  ++idleWaiters_;
  const bool idle = cv_.wait_for(lk, timeout, [&] { return !running_ && !inPass_; });
  --idleWaiters_;
  return idle;
}

std::optional<Outcome> DownloadEngine::lastOutcome() const {
  std::lock_guard lk(mu_);
  return lastOutcome_;
}

void DownloadEngine::Pass(std::stop_token stop) {
  const Action action = machine_.Next();
  if (action.kind == Action::Kind::None) return;
  if (action.kind == Action::Kind::Finish) {
    FinishSteps(stop);
    return;
  }
  if (ConnectTimedOut()) {
    const std::string detail = "the IRD did not answer the connect request within " +
                               std::to_string(options_.connectTimeout.count()) +
                               " s: check the cable and the port, and switch the receiver on";
    machine_.GiveUp(detail);
    Publish();
    host_->MessageBox("IRD No response: Retry download.", detail, stop);
    return;
  }
  Emit(StateEntered{action.state, action.phase, action.status});
  const Input input = Perform(action, stop);
  // A chained start that a stop cut short is the stop's to end, not a failure.
  if (input.kind == Input::Kind::SecondFileRefused && stop.stop_requested()) return;
  if (input.kind == Input::Kind::NoReply && action.kind == Action::Kind::AwaitReply) {
    NoteNoReply(action);
  }
  const StepReport report = machine_.Step(input);
  Publish();
  if (report.reply) Emit(ReplyReceived{*report.reply});
  EmitFacts(report);
  if (report.packetSent) EmitProgress();
  if (report.clockStarted) Emit(ClockStarted{});
  if (report.noResponse) host_->MessageBox("IRD No response: Retry download.", "", stop);
  if (!machine_.idle()) Emit(RetryCountShown{machine_.state().retryCount});
}

Input DownloadEngine::Perform(const Action& action, std::stop_token stop) {
  using Kind = Input::Kind;
  const auto sent = [&](int ok) {
    if (port_->LineLost()) return Input::Of(Kind::LineLost);
    return Input::Of(ok ? Kind::Sent : Kind::SendFailed);
  };
  switch (action.kind) {
    case Action::Kind::SendCommand:
      // A connect request answers nothing: an acknowledge that came late answers it as well as
      // the next one, so it is left for the next wait to read.
      if (action.byte != CMD_CONNECT_REQ) DropStaleBytes();
      NoteWrite(1);
      return sent(port_->WriteByte(action.byte));
    case Action::Kind::SendHeader:
      DropStaleBytes();
      NoteWrite(kHeaderSize);
      return sent(port_->Write(image_.header.data(), kHeaderSize));
    case Action::Kind::SendPacket:
      if (!image_.payload) return Input::Of(Kind::SendFailed);
      BuildDataPacket(packet_, image_.payload.get(), image_.payloadSize, image_.lastPacketIndex,
                      action.packet);
      DropStaleBytes();
      NoteWrite(kPacketSize);
      return sent(port_->Write(packet_.data(), kPacketSize));
    case Action::Kind::AwaitReply: {
      std::uint8_t received = 0;
      if (port_->ReadByte(received)) {
        lateCounted_ = false;
        return Input::Reply(received);
      }
      return Input::Of(port_->LineLost() ? Kind::LineLost : Kind::NoReply);
    }
    case Action::Kind::LoadSecondFile:
      if (!StartSteps(true, stop)) return Input::Of(Kind::SecondFileRefused);
      return {Kind::SecondFileLoaded, 0, image_.lastPacketIndex, LastPacketIsPadding()};
    case Action::Kind::None:
    case Action::Kind::Finish:
      break;
  }
  return Input::Of(Kind::NoReply);
}

bool DownloadEngine::ConnectTimedOut() {
  if (!machine_.state().connecting) {
    connectingSince_.reset();
    return false;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!connectingSince_) connectingSince_ = now;
  return options_.connectTimeout.count() > 0 && now - *connectingSince_ >= options_.connectTimeout;
}

// The IRD only answers what the PC sends, so whatever waits before the PC writes is a late
// repeat of a reply already answered, or noise: read as the answer to what follows it would put
// the two ends out of step.
void DownloadEngine::DropStaleBytes() {
  const std::size_t dropped = port_->DropWaiting();
  if (dropped == 0) return;
  counts_.staleBytes += static_cast<std::uint32_t>(dropped);
  Emit(StaleBytesDropped{static_cast<std::uint32_t>(dropped)});
}

void DownloadEngine::NoteWrite(std::size_t bytes) {
  static const std::chrono::nanoseconds byteTime = ByteTime(LineSettings{kBaud, 'N', 8, 1});
  replyLateAfter_ = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        byteTime * static_cast<std::int64_t>(bytes) + options_.replyWait);
  lateCounted_ = false;
}

void DownloadEngine::NoteNoReply(const Action& action) {
  // Calling an IRD that is not there yet is not lateness.
  if (lateCounted_ || action.phase == Phase::Connecting) return;
  if (std::chrono::steady_clock::now() < replyLateAfter_) return;
  lateCounted_ = true;
  ++counts_.lateReplies;
  Emit(ReplyLate{action.byte});
}

void DownloadEngine::EmitFacts(const StepReport& report) {
  if (report.failedStep) ++counts_.failedSteps;
  if (report.connected) Emit(Connected{machine_.state().file});
  if (report.headerAccepted) Emit(HeaderAccepted{});
  if (report.headerRejected) {
    ++counts_.rejections;
    Emit(HeaderRejected{*report.headerRejected});
  }
  if (report.packetRejected) {
    ++counts_.rejections;
    Emit(PacketRejected{report.packetRejected->packet, report.packetRejected->inARow});
  }
  if (report.repeat) {
    ++counts_.repeats;
    Emit(*report.repeat);
  }
}

DownloadEngine::Probe DownloadEngine::ProbeConnect() {
  if (host_ == nullptr) return Probe::NotOpen;
  {
    std::unique_lock lk(mu_);
    if (running_) return Probe::NotOpen;
    WaitForPassEnd(lk);
  }
  // Quietly: a front end that probes again and again tells its operator itself.
  if (!portOpen_) portOpen_ = port_->Open(host_->SelectedPortName(), Mode()) != 0;
  if (!portOpen_) return Probe::NotOpen;
  port_->WriteByte(CMD_CONNECT_REQ);
  std::uint8_t reply = 0;
  const bool got = port_->ReadByte(reply) != 0;
  if (port_->LineLost()) {
    port_->Close();
    portOpen_ = false;
    return Probe::LineLost;
  }
  return got && NormaliseReply(reply) == CMD_CONNECT_ACK ? Probe::Answered : Probe::Quiet;
}

void DownloadEngine::ReleasePort() {
  {
    std::unique_lock lk(mu_);
    if (running_) return;
    WaitForPassEnd(lk);
  }
  port_->Close();
  portOpen_ = false;
}

bool DownloadEngine::LastPacketIsPadding() const {
  return ChunkLength(image_.payloadSize, image_.lastPacketIndex) == 0;
}

void DownloadEngine::EmitProgress() {
  const MachineState& s = machine_.state();
  const std::uint32_t done = machine_.packetsDone();
  const std::uint64_t bytes =
      std::min<std::uint64_t>(std::uint64_t{done} * kChunkSize, image_.payloadSize);
  Emit(ProgressMade{s.packetIndex, done, s.lastPacketIndex + 1, bytes, image_.payloadSize});
}

}  // namespace irdload
