// The benchmark's scratch folder: upgrade images and payload files, removed at the end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace irdload::bench {

class Workspace {
 public:
  Workspace() = default;
  // Removes the folder and everything in it.
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  // Makes the folder under the system's temporary directory; false with the reason in `error`.
  bool Create(std::string* error);
  const std::filesystem::path& path() const { return path_; }

  // Writes `bytes` to `name` in the folder; the full path, or empty with `error` set.
  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes,
                    std::string* error) const;

  // A new empty subfolder (for a child program to run in); empty path with `error` set.
  std::filesystem::path MakeFolder(const std::string& name, std::string* error) const;

 private:
  std::filesystem::path path_;
};

}  // namespace irdload::bench
