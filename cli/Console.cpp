#include "cli/Console.h"

#include "engine/FileChoice.h"

namespace irdload::cli {

void Complain(std::ostream& err, const std::string& text, const std::string& detail) {
  err << "irdload-cli: " << text << '\n';
  if (!detail.empty()) err << "  " << detail << '\n';
}

std::string ChosenExtension(const std::string& path) {
  return FileExtension(WithDefaultExtension(path));
}

}  // namespace irdload::cli
