// What the program says about itself: --help, which must agree with the
// README and the manual page, and --version.

#include "tool/console/program_info.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <zlib.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tool/console/command_line.h"

namespace tersify {
namespace {

std::string SourceFile(const std::string& name) {
  std::ifstream in(std::string(TERSIFY_SOURCE_DIR) + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The manual page's source as it reads: "\-" is a dash, font changes go.
std::string ManPageText() {
  std::string text = std::regex_replace(SourceFile("tersify.1"), std::regex(R"(\\-)"), "-");
  return std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
}

// The switches --help lists, as it spells them ("/TABLE=", "--help").
std::vector<std::string> ListedSwitches() {
  std::vector<std::string> spellings;
  std::istringstream lines(SwitchListText());
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line.substr(2, line.find("  ", 2) - 2));
    for (std::string word; words >> word;) {
      if (word.back() == ',') word.pop_back();
      if (const size_t equals = word.find('='); equals != std::string::npos) word.resize(equals + 1);
      spellings.push_back(word);
    }
  }
  return spellings;
}

TEST(HelpText, IsTheUsageTextTheSwitchesAndThePointerToTheManual) {
  const std::string help = HelpText();
  EXPECT_EQ(help.rfind(UsageText + "\n\n", 0), 0u);
  EXPECT_NE(help.find(SwitchListText()), std::string::npos);
  EXPECT_NE(help.find("man tersify"), std::string::npos);
  EXPECT_EQ(help.back(), '\n');
}

TEST(HelpText, AgreesWithTheReadmeAndTheManualPage) {
  const std::string readme = SourceFile("README.md");
  const std::string man = ManPageText();
  ASSERT_FALSE(readme.empty());
  ASSERT_FALSE(man.empty());
  const std::vector<std::string> listed = ListedSwitches();
  EXPECT_GE(listed.size(), 21u);
  for (const std::string& spelling : listed) {
    EXPECT_NE(readme.find(spelling), std::string::npos) << spelling << " is not in README.md";
    EXPECT_NE(man.find(spelling), std::string::npos) << spelling << " is not in tersify.1";
  }
  for (const char* variable : {"TERSIFY_PASSWORD", "/P=-"}) {
    EXPECT_NE(readme.find(variable), std::string::npos) << variable;
    EXPECT_NE(man.find(variable), std::string::npos) << variable;
  }
}

TEST(VersionText, NamesTheProjectVersionAndEveryLibrary) {
  SetWindowLibraryVersion("");
  const std::string text = VersionText();
  EXPECT_EQ(text.rfind(std::string("tersify ") + TERSIFY_PROJECT_VERSION + "\n", 0), 0u) << text;
  EXPECT_NE(text.find(std::string("\nzlib ") + zlibVersion() + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find(std::string("\nSQLite ") + sqlite3_libversion() + "\n"), std::string::npos) << text;
  // A build without the odbc provider says so instead.
  EXPECT_TRUE(std::regex_search(
      text, std::regex("\n(ODBC driver manager [0-9]+\\.[0-9]+ \\(ODBC 3\\.[0-9]{2}\\)|ODBC: not part of this build)\n")))
      << text;
  EXPECT_EQ(text.find("Qt"), std::string::npos) << "no window library was named";
  SetWindowLibraryVersion("Qt 6.4.2");
  EXPECT_EQ(VersionText(), text + "Qt 6.4.2\n");
  SetWindowLibraryVersion("");
}

}  // namespace
}  // namespace tersify
