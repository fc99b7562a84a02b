#include "bench/Workspace.h"

#include <stdlib.h>

#include <cerrno>
#include <fstream>
#include <system_error>

namespace irdload::bench {

Workspace::~Workspace() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool Workspace::Create(std::string* error) {
  std::error_code ec;
  const auto base = std::filesystem::temp_directory_path(ec);
  if (ec) {
    *error = "no temporary directory: " + ec.message();
    return false;
  }
  std::string templ = (base / "irdload-bench-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) {
    *error = "mkdtemp " + templ + ": " + std::generic_category().message(errno);
    return false;
  }
  path_ = templ;
  return true;
}

std::string Workspace::Write(const std::string& name, const std::vector<std::uint8_t>& bytes,
                             std::string* error) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    *error = "writing " + file.string() + " failed";
    return {};
  }
  return file.string();
}

std::filesystem::path Workspace::MakeFolder(const std::string& name, std::string* error) const {
  std::error_code ec;
  const std::filesystem::path folder = path_ / name;
  std::filesystem::create_directory(folder, ec);
  if (ec) {
    *error = "creating " + folder.string() + ": " + ec.message();
    return {};
  }
  return folder;
}

}  // namespace irdload::bench
