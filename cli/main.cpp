#include <iostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Os.h"

int main(int argc, char** argv) {
  irdload::cli::PrepareConsole();
  const std::vector<std::string> words = irdload::cli::CommandLineWords(argc, argv);
  std::vector<const char*> args;
  for (const std::string& word : words) args.push_back(word.c_str());
  return irdload::cli::RunCli(static_cast<int>(args.size()), args.data(), std::cout, std::cerr);
}
