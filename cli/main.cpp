#include <iostream>

#include "cli/Commands.h"

int main(int argc, char** argv) {
  return irdload::cli::RunCli(argc, argv, std::cout, std::cerr);
}
