// A running server on a fresh database of either engine, for the
// end-to-end tests that are parameterised over both engines.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "tests/e2e/server_process.h"
#include "tests/e2e/wire_session.h"

namespace qz::testing {

class ServerTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>();
    std::string why;
    if (!server_->createDatabase(GetParam(), &why, demo())) {
      if (!why.empty()) GTEST_SKIP() << why;
      FAIL() << "database creation failed";
    }
    ASSERT_GT(server_->start(extraArgs()), 0);
  }
  void TearDown() override {
    if (server_ && server_->running()) EXPECT_EQ(server_->stop(), 0) << server_->output();
  }
  virtual bool demo() const { return false; }
  virtual std::vector<std::string> extraArgs() const { return {}; }
  std::unique_ptr<WireSession> session(const char* cls) {
    auto s = std::make_unique<WireSession>(server_->port());
    s->create(cls);
    return s;
  }
  // Text of a boolean literal the engine takes.
  std::string boolText(bool b) const {
    return GetParam() == TestEngine::Embedded ? (b ? "1" : "0") : (b ? "true" : "false");
  }

  std::unique_ptr<ServerProcess> server_;
};

inline std::string engineParamName(const ::testing::TestParamInfo<TestEngine>& info) {
  return engineName(info.param);
}

#define QZ_INSTANTIATE_ON_BOTH_ENGINES(suite)                                               \
  INSTANTIATE_TEST_SUITE_P(Engines, suite,                                                  \
                           ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL), \
                           engineParamName)

}  // namespace qz::testing
