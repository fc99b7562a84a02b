#include "engine/DownloadEngine.h"

#include <cstdio>
#include <optional>
#include <system_error>

namespace irdload {
namespace {

std::string Hex2(std::uint8_t value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02x", value);
  return buf;
}

}  // namespace

DownloadEngine::DownloadEngine(EngineOptions options) : options_(std::move(options)) {
  port_ = options_.port ? std::move(options_.port)
                        : std::make_unique<SerialPortLink>(options_.readPauses);
}

DownloadEngine::~DownloadEngine() {
  {
    std::lock_guard lk(mu_);
    quit_ = true;
    runStop_.request_stop();
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
  state_ = STATUS_IDLE;
  host_ = &host;
  if (!options_.manualWorker && !worker_.joinable()) {
    try {
      worker_ = std::jthread([this](std::stop_token quit) { WorkerMain(quit); });
    } catch (const std::system_error&) {
      host.MessageBox("JTxThread Create Fail", "", {});
      return 0;
    }
  }
  if (!port_->Open(portName, Mode())) ShowOpenFailure({});
  kind_ = IMAGE_NONE;
  return 1;
}

void DownloadEngine::WorkerMain(std::stop_token /*quit: the destructor sets quit_ instead*/) {
  workerId_ = std::this_thread::get_id();
  std::unique_lock lk(mu_);
  for (;;) {
    workerBusy_ = false;
    cv_.notify_all();
    // Parked between passes: never in the middle of one, so a stop never finds the worker
    // holding the payload or half-way through a transfer.
    cv_.wait(lk, [&] { return quit_ || (resumed_ && !stopRequested_); });
    if (quit_) return;
    workerBusy_ = true;
    const std::stop_token stop = runStop_.get_token();
    lk.unlock();
    Pass(stop);
    lk.lock();
  }
}

bool DownloadEngine::RunPass() {
  if (state_ == STATUS_IDLE) return false;
  Pass(runStop_.get_token());
  return state_ != STATUS_IDLE;
}

DownloadEngine::Snapshot DownloadEngine::snapshot() const {
  return {state_.load(), kind_,         packetIndex_,    image_.lastPacketIndex, image_.payloadSize,
          retryCount_,   lastPacketSent_, image_.payload != nullptr};
}

int DownloadEngine::StartDownload() {
  if (OnWorker()) return StartSteps(true, runStop_.get_token());
  {
    std::unique_lock lk(mu_);
    if (host_ == nullptr || state_ != STATUS_IDLE) return 0;
    cv_.wait(lk, [&] { return !workerBusy_; });
    runStop_ = std::stop_source();
  }
  return StartSteps(false, {});
}

int DownloadEngine::StartSteps(bool fromWorker, std::stop_token stop) {
  retryCount_ = 0;
  packetIndex_ = 0;
  const auto choosePath = [&]() -> std::optional<std::string> {
    switch (kind_) {
      case IMAGE_NONE:
        return host_->FirstFileName();
      case IMAGE_FIRST:
        return host_->SecondFileName();
      default:
        kind_ = IMAGE_NONE;
        return std::nullopt;
    }
  };
  std::optional<std::string> path = choosePath();
  if (!path) return 0;
  ImageFile file;
  std::string why;
  if (!path->empty()) file.Open(*path, &why);
  if (!file.isOpen()) {
    if (!host_->SelectFiles(stop)) return 0;
    path = choosePath();
    if (!path) return 0;
    if (!file.Open(*path, &why)) {
      host_->MessageBox("Open Error!", why, stop);
      return 0;
    }
  }
  if (!LoadImage(file, kind_, *host_, image_, stop)) return 0;
  state_ = STATUS_SEND_CONNECT_REQ;
  port_->Close();
  if (!port_->Open(host_->PortNameForIndex(host_->SelectedPortIndex()), Mode())) {
    ShowOpenFailure(stop);
  }
  // The worker chaining a second file is already running.
  if (!fromWorker && kind_ != IMAGE_SECOND) {
    {
      std::lock_guard lk(mu_);
      resumed_ = true;
    }
    cv_.notify_all();
  }
  return 1;
}

int DownloadEngine::Finish() {
  if (host_ == nullptr) return 1;
  if (options_.manualWorker || OnWorker()) {
    FinishSteps(runStop_.get_token());
    return 1;
  }
  {
    std::unique_lock lk(mu_);
    stopRequested_ = true;
    runStop_.request_stop();
    cv_.wait(lk, [&] { return !workerBusy_; });
  }
  FinishSteps({});
  {
    std::lock_guard lk(mu_);
    stopRequested_ = false;
  }
  return 1;
}

void DownloadEngine::FinishSteps(std::stop_token stop) {
  const bool wasRunning = state_ != STATUS_IDLE;
  retryCount_ = 0;
  DownloadOutcome outcome = noResponse_ ? DownloadOutcome::NoResponse : DownloadOutcome::Stopped;
  const std::string reason = failReason_;
  if (reportedState_ == STATUS_END) {
    Status("Download end successfully.");
    host_->MessageBox("Download end successfully.", "", stop);
    outcome = DownloadOutcome::Success;
  } else if (reportedState_ == STATUS_ERREND) {
    Status("Download Fail.");
    host_->MessageBox("Download Fail.", reason, stop);
    outcome = DownloadOutcome::Failed;
  }
  image_.payload.reset();
  image_.payloadSize = 0;
  host_->StopElapsedClock();
  state_ = STATUS_IDLE;
  reportedState_ = STATUS_IDLE;
  kind_ = IMAGE_NONE;
  noResponse_ = false;
  failReason_.clear();
  {
    std::lock_guard lk(mu_);
    resumed_ = false;
    if (wasRunning) {
      lastOutcome_ = outcome;
      lastFailureReason_ = reason;
    }
  }
  cv_.notify_all();
}

bool DownloadEngine::WaitIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock lk(mu_);
  return cv_.wait_for(lk, timeout, [&] { return state_ == STATUS_IDLE && !workerBusy_; });
}

DownloadOutcome DownloadEngine::lastOutcome() const {
  std::lock_guard lk(mu_);
  return lastOutcome_;
}

std::string DownloadEngine::lastFailureReason() const {
  std::lock_guard lk(mu_);
  return lastFailureReason_;
}

void DownloadEngine::Pass(std::stop_token stop) {
  switch (state_.load()) {
    case STATUS_SEND_CONNECT_REQ:
      Status("Sending connect request");
      lastPacketSent_ = false;
      headerAcked_ = false;
      packetOutstanding_ = false;
      allPacketsAcked_ = false;
      headerRejections_ = 0;
      packetRejections_ = 0;
      SendCommand(CMD_CONNECT_REQ, STATUS_WAIT_CONNECT_ACK);
      break;
    case STATUS_WAIT_CONNECT_ACK:
      Status("Waiting connect request ack");
      if (!AwaitReply(CMD_CONNECT_ACK, STATUS_SEND_CONNECT_RE_ACK)) state_ = STATUS_SEND_CONNECT_REQ;
      break;
    case STATUS_SEND_CONNECT_RE_ACK:
      Status("Sending connect request re ack");
      SendCommand(CMD_CONNECT_RE_ACK, STATUS_WAIT_HEADER_REQ);
      break;
    case STATUS_WAIT_HEADER_REQ:
      Status("Waiting header request");
      AwaitReply(CMD_HEADER_REQ, STATUS_SEND_HEADER);
      break;
    case STATUS_SEND_HEADER:
      Status("Sending header request");
      SendHeader();
      break;
    case STATUS_WAIT_HEADER_ACK:
      Status("Waiting header ACK");
      AwaitReply(CMD_HEADER_ACK, STATUS_SEND_HEADER_ACK);
      break;
    case STATUS_SEND_HEADER_ACK:
      Status("Sending header transfer ACK");
      SendCommand(CMD_HEADER_ANSWER, STATUS_WAIT_DATA_REQ);
      break;
    case STATUS_SEND_HEADER_NACK:
      Status("Sending header transfer NACK");
      SendCommand(CMD_HEADER_ANSWER, STATUS_WAIT_HEADER_REQ);
      break;
    case STATUS_WAIT_DATA_REQ:
      Status("Waiting data request");
      AwaitReply(CMD_DATA_REQ, STATUS_SEND_DATA);
      break;
    case STATUS_SEND_DATA:
      Status("Sendig data packet");
      SendDataPacket();
      break;
    case STATUS_WAIT_DATA_ACK:
      Status("Waiting data ACK");
      AwaitReply(CMD_DATA_ACK, STATUS_SEND_DATA_ACK);
      break;
    case STATUS_SEND_DATA_ACK:
      Status(lastPacketSent_ ? "Please wait for saving" : "Sending data transfer ACK");
      SendCommand(CMD_DATA_ANSWER, lastPacketSent_ ? STATUS_WAIT_TERMINATE_REQ : STATUS_WAIT_DATA_REQ);
      break;
    case STATUS_SEND_DATA_NACK:
      Status("Sending data transfer NACK");
      SendCommand(CMD_DATA_ANSWER, STATUS_WAIT_DATA_REQ);
      break;
    case STATUS_WAIT_TERMINATE_REQ:
      Status("Waiting terminate request");
      AwaitReply(CMD_TERMINATE_OK, STATUS_SEND_SUCCESS_TERMINATE_ACK);
      break;
    case STATUS_SEND_SUCCESS_TERMINATE_ACK:
      Status("Sending success terminate ACK");
      if (kind_ == IMAGE_FIRST) {
        // The pair's second file follows in the same run, from the connect request. A failed
        // chained start ends the run: retrying it at once would repeat its message for ever.
        if (!StartSteps(true, stop) && !stop.stop_requested()) {
          FailTransfer("The second file of the pair could not be loaded; the IRD holds only the "
                       "first file.");
        }
      } else {
        SendCommand(CMD_TERMINATE_ANSWER, STATUS_END);
      }
      break;
    case STATUS_SEND_FAIL_TERMINATE_ACK:
      Status("Sending fail terminate ACK");
      SendCommand(CMD_TERMINATE_ANSWER, STATUS_ERREND);
      break;
    case STATUS_END:
    case STATUS_ERREND:
      FinishSteps(stop);
      break;
    default:
      return;
  }
  if (state_ == STATUS_IDLE) return;
  if (retryCount_ > options_.retryLimit) {
    state_ = STATUS_ERREND;
    noResponse_ = true;
    host_->MessageBox("IRD No response: Retry download.", "", stop);
  }
  host_->SetField(FIELD_RETRY_COUNT, std::to_string(retryCount_));
}

void DownloadEngine::Status(const char* text) { host_->SetField(FIELD_STATUS, text); }

void DownloadEngine::ShowOpenFailure(std::stop_token stop) {
  const OpenFailure failure = port_->LastOpenFailure();
  host_->MessageBox(failure.message, failure.detail, stop);
}

void DownloadEngine::FailTransfer(std::string reason) {
  failReason_ = std::move(reason);
  state_ = STATUS_ERREND;
  reportedState_ = STATUS_ERREND;
}

bool DownloadEngine::SendCommand(std::uint8_t command, int next) {
  if (!port_->WriteByte(command)) {
    ++retryCount_;
    return false;
  }
  if (command == CMD_CONNECT_RE_ACK) host_->StartElapsedClock();
  state_ = next;
  reportedState_ = next;
  retryCount_ = 0;
  return true;
}

bool DownloadEngine::AwaitReply(std::uint8_t expected, int next) {
  std::uint8_t received = 0;
  if (!port_->ReadByte(received)) {
    ++retryCount_;
    return false;
  }
  const std::uint8_t reply = NormaliseReply(received);
  host_->SetField(FIELD_LAST_REPLY, Hex2(reply));
  if (reply == CMD_TERMINATE_OK && !allPacketsAcked_) {
    // A success terminate before the IRD accepted every packet: success would be a lie.
    FailTransfer("The IRD ended the transfer before it had accepted every packet: the image on "
                 "the IRD is incomplete.");
    retryCount_ = 0;
    return true;
  }
  if (reply == CMD_DATA_ACK || reply == CMD_DATA_NACK) {
    // Only an answer to a packet in flight moves the packet count.
    if (packetOutstanding_) {
      if (reply == CMD_DATA_ACK && lastPacketSent_) allPacketsAcked_ = true;
      if (reply == CMD_DATA_NACK) {
        packetIndex_ = lastPacketSent_ ? image_.lastPacketIndex : packetIndex_ - 1;
      }
    }
    packetOutstanding_ = false;
    packetRejections_ = reply == CMD_DATA_NACK ? packetRejections_ + 1 : 0;
    if (packetRejections_ > options_.rejectLimit) {
      FailTransfer("The IRD rejected the same packet " + std::to_string(packetRejections_) +
                   " times in a row: the line is too noisy or out of step.");
      retryCount_ = 0;
      return true;
    }
  }
  if (reply == CMD_HEADER_ACK || reply == CMD_HEADER_NACK) {
    headerAcked_ = reply == CMD_HEADER_ACK;
    headerRejections_ = reply == CMD_HEADER_NACK ? headerRejections_ + 1 : 0;
    if (headerRejections_ > options_.rejectLimit) {
      FailTransfer("The IRD rejected the header " + std::to_string(headerRejections_) +
                   " times in a row: this upgrade may not be meant for this receiver.");
      retryCount_ = 0;
      return true;
    }
  }
  if (reply == expected) {
    state_ = next;
    reportedState_ = next;
    retryCount_ = 0;
    return true;
  }
  switch (reply) {
    case CMD_CONNECT_ACK:
      state_ = STATUS_WAIT_HEADER_REQ;
      break;
    case CMD_HEADER_ACK:
      state_ = STATUS_SEND_HEADER_ACK;
      break;
    case CMD_HEADER_NACK:
      state_ = STATUS_SEND_HEADER_NACK;
      break;
    case CMD_DATA_REQ:
      state_ = STATUS_SEND_DATA;
      break;
    case CMD_DATA_ACK:
      state_ = STATUS_SEND_DATA_ACK;
      break;
    case CMD_DATA_NACK:
      state_ = STATUS_SEND_DATA_NACK;
      break;
    case CMD_TERMINATE_OK:
      state_ = STATUS_SEND_SUCCESS_TERMINATE_ACK;
      reportedState_ = STATUS_END;
      break;
    case CMD_TERMINATE_FAIL:
      state_ = STATUS_SEND_FAIL_TERMINATE_ACK;
      reportedState_ = STATUS_ERREND;
      break;
    default:
      ++retryCount_;
      return false;
  }
  retryCount_ = 0;
  return true;
}

bool DownloadEngine::SendHeader() {
  const int ok = port_->Write(image_.header.data(), kHeaderSize);
  state_ = STATUS_WAIT_HEADER_ACK;
  if (!ok) {
    ++retryCount_;
    return false;
  }
  retryCount_ = 0;
  packetIndex_ = 0;
  lastPacketSent_ = false;
  headerAcked_ = false;
  packetOutstanding_ = false;
  allPacketsAcked_ = false;
  return true;
}

bool DownloadEngine::SendDataPacket() {
  // The line carries no packet numbers, so never send a packet the IRD cannot be expecting.
  if (!headerAcked_) {
    FailTransfer("The IRD asked for data before it had accepted the header.");
    return false;
  }
  if (allPacketsAcked_) {
    FailTransfer("The IRD asked for more data after it had accepted every packet of the image.");
    return false;
  }
  if (lastPacketSent_ && packetIndex_ == 0 && image_.lastPacketIndex > 0) {
    FailTransfer("The IRD asked for data again after the last packet was sent; which packet it "
                 "expects cannot be known.");
    return false;
  }
  if (!image_.payload) {
    FailTransfer("No image is loaded.");
    return false;
  }
  BuildDataPacket(packet_, image_.payload.get(), image_.payloadSize, image_.lastPacketIndex,
                  packetIndex_);
  if (!port_->Write(packet_.data(), kPacketSize)) {
    state_ = STATUS_WAIT_DATA_ACK;
    ++retryCount_;
    return false;
  }
  retryCount_ = 0;
  packetOutstanding_ = true;
  if (packetIndex_ == image_.lastPacketIndex) {
    packetIndex_ = 0;
    lastPacketSent_ = true;
  } else {
    ++packetIndex_;
    lastPacketSent_ = false;
  }
  state_ = STATUS_WAIT_DATA_ACK;
  host_->SetProgressPos(static_cast<int>(packetIndex_));
  host_->SetField(FIELD_BYTES_SENT, std::to_string(std::uint64_t{packetIndex_} * kChunkSize));
  host_->SetField(FIELD_PACKET_NUMBER, std::to_string(packetIndex_));
  return true;
}

}  // namespace irdload
