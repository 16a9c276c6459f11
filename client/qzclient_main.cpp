// qzclient: command-line client of the application server (see
// client/qzclient_cli.h and docs/client.md).
#include <iostream>
#include <string>
#include <vector>

#include "client/qzclient_cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return qz::client::runQzClient(args, std::cout, std::cerr);
}
