// Developer settings: the INI reader, LoadSettings with the type coupling,
// where the file is looked for, and the design-time default database of
// datasets edited in a designer, connected to a real SQLite file.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "db/developer_settings.h"
#include "tests/db/layer_fixture.h"

namespace tersify::testing {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class DeveloperSettingsTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    char pattern[] = "/tmp/tersify-devsettings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    LayerTest::TearDown();
    fs::remove_all(dir_);
  }
  std::string Write(const std::string& text) {
    const std::string path = (dir_ / "developer.ini").string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  fs::path dir_;
};

TEST_F(DeveloperSettingsTest, ReadsItsSectionOnly) {
  const std::string path = Write(
      "[OTHER]\nUSERNAME=wrong\n"
      "; a comment\n"
      " [database] \r\n"
      "username = dev \r\n"
      "PASSWORD=\"p;w=d \"\n"
      "Database=Demo\n"
      "SERVER=host,1433\n"
      "SERVER=second\n"
      "WINDOWS_AUTH=1\n"
      "[NEXT]\nDATABASE=wrong\n");
  TvrDatabase db(nullptr);
  db.LoadSettings(path, "DATABASE");
  EXPECT_EQ(db.Username(), "dev");
  EXPECT_EQ(db.Password(), "p;w=d ");
  EXPECT_EQ(db.DatabaseName(), "Demo");
  EXPECT_EQ(db.Server(), "host,1433");
  EXPECT_TRUE(db.UseWindowsAuthentication());
  EXPECT_EQ(db.DatabaseType(), vrdbtMSSQL);
  EXPECT_EQ(db.ConnectionType(), ctSDAC);
}

TEST_F(DeveloperSettingsTest, MissingKeysAndFilesApplyTheDefaults) {
  TvrDatabase db(nullptr);
  db.SetUsername("u");
  db.SetServer("s");
  db.SetUseWindowsAuthentication(true);
  db.SetConnectionType(ctODAC);
  db.LoadSettings((dir_ / "absent.ini").string(), "DATABASE");
  EXPECT_EQ(db.Username(), "");
  EXPECT_EQ(db.Server(), "");
  EXPECT_FALSE(db.UseWindowsAuthentication());
  EXPECT_EQ(db.ConnectionType(), ctSDAC);
  EXPECT_EQ(db.DatabaseType(), vrdbtMSSQL);
}

struct TypeCase {
  const char* lines;
  TvrdbType database_type;
  TvrconnType connection_type;
  bool windows_auth;
};

class DeveloperSettingsTypeTest : public DeveloperSettingsTest, public ::testing::WithParamInterface<TypeCase> {};

// Every load starts from ctODAC / vrdbtOracle with Windows authentication on.
TEST_P(DeveloperSettingsTypeTest, TypesAreAppliedInOrderThroughTheirSetters) {
  const TypeCase& c = GetParam();
  TvrDatabase db(nullptr);
  db.SetConnectionType(ctODAC);
  db.SetUseWindowsAuthentication(true);
  db.LoadSettings(Write(std::string("[DATABASE]\n") + c.lines), "DATABASE");
  EXPECT_EQ(db.DatabaseType(), c.database_type);
  EXPECT_EQ(db.ConnectionType(), c.connection_type);
  EXPECT_EQ(db.UseWindowsAuthentication(), c.windows_auth);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeveloperSettingsTypeTest,
    ::testing::Values(
        // The missing CONNECTION_TYPE reads as 1 and undoes the Oracle type.
        TypeCase{"DATABASE_TYPE=2\n", vrdbtMSSQL, ctSDAC, false},
        TypeCase{"DATABASE_TYPE=2\nCONNECTION_TYPE=2\n", vrdbtOracle, ctODAC, false},
        TypeCase{"DATABASE_TYPE=0\nCONNECTION_TYPE=9\n", vrdbtSQL, ctODAC, false},
        TypeCase{"DATABASE_TYPE=7\nCONNECTION_TYPE=-1\nWINDOWS_AUTH=1\n", vrdbtOracle, ctODAC, true},
        TypeCase{"CONNECTION_TYPE=0x3\nWINDOWS_AUTH=0X10\n", vrdbtOracle, ctODACNET, true},
        TypeCase{"DATABASE_TYPE=2\nCONNECTION_TYPE=0xFFFFFFFF\nWINDOWS_AUTH=0x\n", vrdbtOracle, ctODAC, false},
        // Not numbers: the defaults (1, false), not the values held before.
        TypeCase{"DATABASE_TYPE=2\nCONNECTION_TYPE=two\nWINDOWS_AUTH=yes\n", vrdbtMSSQL, ctSDAC, false},
        TypeCase{"DATABASE_TYPE=2\nCONNECTION_TYPE=3x\nWINDOWS_AUTH=99999999999\n", vrdbtMSSQL, ctSDAC, false},
        TypeCase{"DATABASE_TYPE=2\nCONNECTION_TYPE=\nWINDOWS_AUTH=0x1G\n", vrdbtMSSQL, ctSDAC, false}));

TEST_F(DeveloperSettingsTest, TheFileIsNamedByTheEnvironment) {
  ScopedEnv named("TERSIFY_DEVELOPER_SETTINGS", "/x/dev.ini");
  ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
  ScopedEnv home("HOME", "/home/dev");
  EXPECT_EQ(DeveloperSettingsFileName(), "/x/dev.ini");
  {
    ScopedEnv empty("TERSIFY_DEVELOPER_SETTINGS", "");
    EXPECT_EQ(DeveloperSettingsFileName(), "/cfg/tersify/developer.ini");
    ScopedEnv relative("XDG_CONFIG_HOME", "cfg");
    EXPECT_EQ(DeveloperSettingsFileName(), "/home/dev/.config/tersify/developer.ini");
    ScopedEnv no_home("HOME", nullptr);
    EXPECT_EQ(DeveloperSettingsFileName(), "");
  }
}

TEST_F(DeveloperSettingsTest, ADatasetInADesignerOpensOnTheDevelopersDatabase) {
  TestDatabase test_db("sqlite");
  test_db.ExecDirect("create table t (id integer primary key); insert into t values (1), (2), (3)");
  ScopedEnv named("TERSIFY_DEVELOPER_SETTINGS", (dir_ / "developer.ini").c_str());
  TComponent form(nullptr);
  form.SetDesigning(true);
  // No file: no default database.
  MakeComponent<TvrDataset>(&form);
  EXPECT_EQ(DefaultDatabase.load(), nullptr);

  Write("[DATABASE]\nSERVER=sqlite\nDATABASE=" + test_db.FilePath() + "\n");
  // Outside a designer the file is never read.
  TvrDataset plain(nullptr);
  plain.SetSQLText("select id from t");
  EXPECT_EQ(DefaultDatabase.load(), nullptr);

  auto* designed = MakeComponent<TvrDataset>(&form);
  TvrDatabase* loaded = DefaultDatabase.load();
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->Owner(), nullptr);
  EXPECT_EQ(designed->Database(), nullptr);
  EXPECT_EQ(designed->Connection(), loaded->ClientConnection());
  designed->SetSQLText("select id from t");
  designed->Open();
  EXPECT_TRUE(loaded->Connected());
  EXPECT_EQ(designed->Database(), loaded);
  EXPECT_EQ(designed->RecordCount(), 3);
  designed->Close();
  // An existing default database is kept.
  MakeComponent<TvrDataset>(&form);
  EXPECT_EQ(DefaultDatabase.load(), loaded);
  // A dataset that became designing after construction loads at open.
  std::unique_ptr<TvrDatabase>(DefaultDatabase.load()).reset();
  ASSERT_EQ(DefaultDatabase.load(), nullptr);
  plain.SetDesigning(true);
  plain.Open();
  ASSERT_NE(DefaultDatabase.load(), nullptr);
  EXPECT_EQ(plain.Database(), DefaultDatabase.load());
  EXPECT_EQ(plain.RecordCount(), 3);
  plain.Close();
  std::unique_ptr<TvrDatabase>(DefaultDatabase.load()).reset();  // before the file goes
}

}  // namespace
}  // namespace tersify::testing
