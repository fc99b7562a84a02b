// An EngineHost for tests: records every event and the dialog's field writes they make, answers
// file questions from a script, and can hold a message box open until the test releases it (or a
// stop does).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "dialog/DialogFields.h"
#include "engine/EngineHost.h"
#include "serial/PortName.h"

namespace irdload::test {

class RecordingHost : public EngineHost, private FieldWriter {
 public:
  struct Message {
    std::string text;
    std::string detail;
  };

  void OnEvent(const EngineEvent& event) override {
    std::lock_guard lk(mu_);
    events_.push_back(event);
    WriteFields(event, *this);
    cv_.notify_all();
  }
  std::string SelectedPortName() override {
    std::lock_guard lk(mu_);
    if (!portPath_.empty()) return portPath_;
    return ClassicPortName(portIndex_);
  }
  std::string FirstFileName() override {
    std::lock_guard lk(mu_);
    return first_;
  }
  std::string SecondFileName() override {
    std::lock_guard lk(mu_);
    return second_;
  }
  bool SelectFiles(std::stop_token) override {
    std::lock_guard lk(mu_);
    ++selectCalls_;
    if (selections_.empty()) return false;
    auto [ok, first, second] = selections_.front();
    selections_.pop_front();
    first_ = first;
    second_ = second;
    return ok;
  }
  void MessageBox(const std::string& text, const std::string& detail,
                  std::stop_token stop) override {
    std::unique_lock lk(mu_);
    messages_.push_back({text, detail});
    cv_.notify_all();
    if (!holdBoxes_) return;
    ++boxesOpen_;
    cv_.notify_all();
    std::stop_callback wake(stop, [this] {
      std::lock_guard g(mu_);
      cv_.notify_all();
    });
    cv_.wait(lk, [&] { return !holdBoxes_ || stop.stop_requested(); });
    --boxesOpen_;
  }

  // Test side.
  std::vector<EngineEvent> events() const {
    std::lock_guard lk(mu_);
    return events_;
  }
  /// The outcome of every DownloadEnded so far, in order.
  std::vector<Outcome> outcomes() const {
    std::lock_guard lk(mu_);
    std::vector<Outcome> out;
    for (const auto& e : events_) {
      if (const auto* ended = std::get_if<DownloadEnded>(&e)) out.push_back(ended->outcome);
    }
    return out;
  }
  void SetFiles(std::string first, std::string second = {}) {
    std::lock_guard lk(mu_);
    first_ = std::move(first);
    second_ = std::move(second);
  }
  void SetPortPath(std::string path) {
    std::lock_guard lk(mu_);
    portPath_ = std::move(path);
  }
  void SetPortIndex(int index) {
    std::lock_guard lk(mu_);
    portIndex_ = index;
  }
  /// The next SelectFiles returns `ok` and leaves these names.
  void QueueSelection(bool ok, std::string first, std::string second = {}) {
    std::lock_guard lk(mu_);
    selections_.push_back({ok, std::move(first), std::move(second)});
  }
  void HoldMessageBoxes(bool hold) {
    std::lock_guard lk(mu_);
    holdBoxes_ = hold;
    cv_.notify_all();
  }
  bool WaitForOpenBox(std::chrono::milliseconds timeout) {
    std::unique_lock lk(mu_);
    return cv_.wait_for(lk, timeout, [&] { return boxesOpen_ > 0; });
  }
  bool WaitForMessage(const std::string& text, std::chrono::milliseconds timeout) {
    std::unique_lock lk(mu_);
    return cv_.wait_for(lk, timeout, [&] {
      for (const auto& m : messages_)
        if (m.text == text) return true;
      return false;
    });
  }
  bool WaitForField(int id, const std::string& text, std::chrono::milliseconds timeout) {
    std::unique_lock lk(mu_);
    return cv_.wait_for(lk, timeout, [&] {
      for (const auto& t : history_[id])
        if (t == text) return true;
      return false;
    });
  }

  std::vector<Message> messages() const {
    std::lock_guard lk(mu_);
    return messages_;
  }
  std::vector<std::string> messageTexts() const {
    std::lock_guard lk(mu_);
    std::vector<std::string> out;
    for (const auto& m : messages_) out.push_back(m.text);
    return out;
  }
  std::string field(int id) const {
    std::lock_guard lk(mu_);
    auto it = fields_.find(id);
    return it == fields_.end() ? std::string() : it->second;
  }
  std::vector<std::string> fieldHistory(int id) const {
    std::lock_guard lk(mu_);
    auto it = history_.find(id);
    return it == history_.end() ? std::vector<std::string>() : it->second;
  }
  std::pair<int, int> range() const {
    std::lock_guard lk(mu_);
    return {rangeLower_, rangeUpper_};
  }
  int progressPos() const {
    std::lock_guard lk(mu_);
    return progressPos_;
  }
  int clockStarts() const {
    std::lock_guard lk(mu_);
    return clockStarts_;
  }
  int clockStops() const {
    std::lock_guard lk(mu_);
    return clockStops_;
  }
  bool clockRunning() const {
    std::lock_guard lk(mu_);
    return clockRunning_;
  }
  int selectCalls() const {
    std::lock_guard lk(mu_);
    return selectCalls_;
  }

 private:
  // FieldWriter: the dialog's writes for each event, made under mu_ by OnEvent.
  void SetField(int id, const std::string& text) override {
    fields_[id] = text;
    history_[id].push_back(text);
  }
  void SetProgressRange(int lower, int upper) override {
    rangeLower_ = lower;
    rangeUpper_ = upper;
  }
  void SetProgressPos(int pos) override { progressPos_ = pos; }
  void StartElapsedClock() override {
    ++clockStarts_;
    clockRunning_ = true;
  }
  void StopElapsedClock() override {
    ++clockStops_;
    clockRunning_ = false;
  }

  struct Selection {
    bool ok;
    std::string first, second;
  };
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<EngineEvent> events_;
  std::map<int, std::string> fields_;
  std::map<int, std::vector<std::string>> history_;
  int rangeLower_ = -1, rangeUpper_ = -1, progressPos_ = -1;
  int portIndex_ = 0;
  std::string portPath_;
  std::string first_, second_;
  std::deque<Selection> selections_;
  int selectCalls_ = 0;
  int clockStarts_ = 0, clockStops_ = 0;
  bool clockRunning_ = false;
  bool holdBoxes_ = false;
  int boxesOpen_ = 0;
  std::vector<Message> messages_;
};

}  // namespace irdload::test
