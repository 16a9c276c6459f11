// The README's smoke test: its qzclient lines, run against a fresh server
// on the demo hotel, succeed and print rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "client/qzclient_cli.h"
#include "tests/e2e/server_process.h"

namespace qz::testing {
namespace {

// The words of a shell line: blanks separate, double quotes group.
std::vector<std::string> shellWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

TEST(ReadmeSmokeTest, QzclientLinesReadTheDemoHotel) {
  std::ifstream readme(std::string(QZ_SOURCE_DIR) + "/README.md");
  std::vector<std::vector<std::string>> commands;
  for (std::string line; std::getline(readme, line);)
    if (line.rfind("./build/client/qzclient ", 0) == 0) commands.push_back(shellWords(line));
  ASSERT_GE(commands.size(), 2u);

  ServerProcess server;
  std::string why;
  ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why, true)) << why;
  ASSERT_GT(server.start(), 0);
  bool readRows = false;
  for (auto args : commands) {
    args.erase(args.begin());  // the program
    args.insert(args.begin(), {"--server", "127.0.0.1:" + std::to_string(server.port())});
    std::ostringstream out, err;
    EXPECT_EQ(client::runQzClient(args, out, err), 0)
        << ::testing::PrintToString(args) << err.str();
    const std::string text = out.str();
    // A table: header, rule, then at least one row.
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    if (std::find(args.begin(), args.end(), "read") != args.end())
      readRows = readRows || lines >= 3;
    EXPECT_GT(lines, 0u) << text;
  }
  EXPECT_TRUE(readRows) << "the smoke test reads no rows";
}

}  // namespace
}  // namespace qz::testing
