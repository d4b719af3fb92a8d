// Where the password of a run comes from when the command line leaves it out.

#include "tool/console/password.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/rtl/exception.h"

namespace tersify {
namespace {

// Sources that answer as told and remember what was asked of them.
struct FakeSources {
  std::optional<std::string> input_line, environment;
  bool terminal = false;
  std::optional<std::string> typed;
  std::vector<std::string> asked;  // "stdin", "env", and each prompt

  PasswordSources Sources() {
    PasswordSources s;
    s.standard_input = [this] {
      asked.push_back("stdin");
      return input_line;
    };
    s.environment = [this] {
      asked.push_back("env");
      return environment;
    };
    if (terminal)
      s.prompt = [this](const std::string& prompt) {
        asked.push_back(prompt);
        return typed;
      };
    return s;
  }
};

ToolSettings Args(const std::vector<std::string>& args) {
  ToolSettings s;
  ReadArguments(args, s);
  return s;
}

TEST(ResolvePassword, AGivenPasswordWinsAndNothingElseIsAsked) {
  FakeSources f{"from stdin", "from env", true, "typed", {}};
  EXPECT_EQ(ResolvePassword(Args({"/U=sa", "/P=secret"}), f.Sources()), "secret");
  // An empty /P= is a password too: the empty one.
  EXPECT_EQ(ResolvePassword(Args({"/U=sa", "/P="}), f.Sources()), "");
  EXPECT_TRUE(f.asked.empty());
}

TEST(ResolvePassword, ADashReadsOneLineOfStandardInput) {
  FakeSources f{"p;w}d", "from env", true, "typed", {}};
  EXPECT_EQ(ResolvePassword(Args({"/U=sa", "/P=-"}), f.Sources()), "p;w}d");
  EXPECT_EQ(f.asked, std::vector<std::string>{"stdin"});
  // A later /P= wins over the dash, as any repeated switch does.
  EXPECT_EQ(ResolvePassword(Args({"/P=-", "/P=x"}), f.Sources()), "x");
}

TEST(ResolvePassword, ADashOnAnEndedInputIsAnError) {
  FakeSources f{std::nullopt, "from env", true, "typed", {}};
  try {
    ResolvePassword(Args({"/U=sa", "/P=-"}), f.Sources());
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("/P=-"), std::string::npos) << e.what();
  }
}

TEST(ResolvePassword, TheEnvironmentComesBeforeThePrompt) {
  FakeSources f{"from stdin", "from env", true, "typed", {}};
  EXPECT_EQ(ResolvePassword(Args({"/U=sa"}), f.Sources()), "from env");
  EXPECT_EQ(f.asked, std::vector<std::string>{"env"});
  // Without a user too: a data source's user may go with it.
  EXPECT_EQ(ResolvePassword(Args({"/IP=dsn:x"}), f.Sources()), "from env");
}

TEST(ResolvePassword, ThePromptAsksOnlyForAGivenUserOnATerminal) {
  FakeSources f{"from stdin", std::nullopt, true, "typed", {}};
  EXPECT_EQ(ResolvePassword(Args({"/U=maint"}), f.Sources()), "typed");
  EXPECT_EQ(f.asked, (std::vector<std::string>{"env", "Password for maint: "}));
  // No user: the data source's own credentials, or none, are left alone.
  f.asked.clear();
  EXPECT_EQ(ResolvePassword(Args({"/IP=dsn:x"}), f.Sources()), std::nullopt);
  EXPECT_EQ(f.asked, std::vector<std::string>{"env"});
  // No terminal (or a window that asks itself): nobody is prompted.
  FakeSources quiet{"from stdin", std::nullopt, false, "typed", {}};
  EXPECT_EQ(ResolvePassword(Args({"/U=maint"}), quiet.Sources()), std::nullopt);
  // The prompt ended without a line: nothing to connect with.
  FakeSources ended{"from stdin", std::nullopt, true, std::nullopt, {}};
  EXPECT_EQ(ResolvePassword(Args({"/U=maint"}), ended.Sources()), std::nullopt);
}

}  // namespace
}  // namespace tersify
