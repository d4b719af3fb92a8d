#include "tests/support/tsql_client.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"

namespace tersify::testing {

bool HaveTsql() { return ::access("/usr/bin/tsql", X_OK) == 0; }

std::string RunTsql(const TestDatabase& db, const std::string& script) {
  const std::string file = db.FilePath() + ".tsql";
  std::ofstream(file) << script;
  const providers::ConnectionSettings& s = db.Settings();
  ChildProcess tsql("/bin/sh",
                    {"-c", "exec tsql -H 127.0.0.1 -p " + std::to_string(s.port) + " -U " + s.username +
                               " -P '" + s.password + "' -D " + s.database + " < " + file},
                    ChildEnvironment{{{"TDSVER", "7.4"}}, {}});
  EXPECT_TRUE(tsql.WaitFor(std::chrono::seconds(30))) << "tsql did not end";
  std::remove(file.c_str());
  return tsql.Out() + tsql.Err();
}

}  // namespace tersify::testing
