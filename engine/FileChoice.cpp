#include "engine/FileChoice.h"

#include <filesystem>

namespace irdload {
namespace {

// After the last folder separator: the slash everywhere, and the backslash too on Windows, where
// a dot in a folder's name (C:\Users\jo.doe\fw) must not pass for the file's extension.
std::string::size_type NameStart(const std::string& path) {
  static const std::string separators{'/', std::filesystem::path::preferred_separator};
  const auto slash = path.find_last_of(separators);
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::string FileExtension(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || dot < NameStart(path)) return {};
  return path.substr(dot + 1);
}

std::string WithDefaultExtension(const std::string& path) {
  const auto dot = path.rfind('.');
  const bool hasDot = dot != std::string::npos && dot >= NameStart(path);
  if (hasDot || NameStart(path) == path.size()) return path;
  return path + ".uuc";
}

std::string ChosenFilesText(const std::string& first, const std::string& second) {
  if (second.empty()) return first;
  return "1: " + first + ",\n2: " + second;
}

}  // namespace irdload
