// Records on their way to the broker, on disk until the broker has taken each: one file per
// record in a folder beside the report folder, named by a sequence number so that they go out in
// the order the units ended, after a broker outage or a restart of the station alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace irdload::floor {

class Outbox {
 public:
  struct Entry {
    std::string name;     ///< its file's name in the outbox
    std::string payload;  ///< what to publish
  };

  explicit Outbox(std::string folder) : folder_(std::move(folder)) {}

  /// Makes the folder when missing and finds the next sequence number; false with the reason.
  bool Open(std::string* error);
  /// Keeps `payload` durably (written, synced, renamed, the folder synced); false with the
  /// reason.
  bool Add(const std::string& payload, Entry* entry, std::string* error);
  /// Every entry waiting, oldest first.
  std::vector<Entry> Waiting() const;
  /// The broker has it: gone from the outbox.
  void Remove(const std::string& name);

  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  std::uint64_t next_ = 1;
};

}  // namespace irdload::floor
