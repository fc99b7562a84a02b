// A PortLink double: records what the engine writes and hands out queued reply bytes, one per
// ReadByte; an empty queue is a reply that did not come.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/PortLink.h"

namespace irdload::test {

struct ScriptedLine {
  mutable std::mutex mu;
  std::deque<std::uint8_t> replies;
  std::vector<std::uint8_t> written;
  std::vector<std::size_t> writeSizes;
  std::vector<std::string> opened;
  int opens = 0, closes = 0;
  bool failOpen = false;
  /// A one-byte write of this value loses the line as it goes (the adapter pulled out); 0: never.
  std::uint8_t lineLostOnWriteOf = 0;
  bool lineLost = false;
};

class ScriptedPort : public PortLink {
 public:
  explicit ScriptedPort(std::shared_ptr<ScriptedLine> line) : line_(std::move(line)) {}
  int Open(const std::string& name, const std::string&) override {
    std::lock_guard lk(line_->mu);
    ++line_->opens;
    line_->opened.push_back(name);
    return line_->failOpen ? 0 : 1;
  }
  void Close() override {
    std::lock_guard lk(line_->mu);
    ++line_->closes;
  }
  int Write(const void* buffer, std::uint32_t length) override {
    std::lock_guard lk(line_->mu);
    const auto* b = static_cast<const std::uint8_t*>(buffer);
    line_->written.insert(line_->written.end(), b, b + length);
    line_->writeSizes.push_back(length);
    if (length == 1 && line_->lineLostOnWriteOf != 0 && b[0] == line_->lineLostOnWriteOf) {
      line_->lineLost = true;
    }
    return 1;
  }
  bool LineLost() const override {
    std::lock_guard lk(line_->mu);
    return line_->lineLost;
  }
  int WriteByte(int value) override {
    const std::uint8_t b = static_cast<std::uint8_t>(value);
    return Write(&b, 1);
  }
  int ReadByte(std::uint8_t& b) override {
    std::lock_guard lk(line_->mu);
    if (line_->replies.empty()) return 0;
    b = line_->replies.front();
    line_->replies.pop_front();
    return 1;
  }
  OpenFailure LastOpenFailure() const override { return {"COMx Open Error!", "scripted"}; }

 private:
  std::shared_ptr<ScriptedLine> line_;
};

}  // namespace irdload::test
