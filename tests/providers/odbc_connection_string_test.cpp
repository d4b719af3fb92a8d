// The connection string the odbc provider builds: escaping, server forms, port
// precedence, driver families, encryption and pass-through options.

#include <gtest/gtest.h>

#include <strings.h>

#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

#include "client/errors.h"
#include "client/providers/odbc/connection_string.h"

namespace tersify::providers::odbc {
namespace {

ConnectionSettings Settings(const std::string& server, int port = 0) {
  ConnectionSettings s;
  s.server = server;
  s.port = port;
  s.database = "tersify";
  s.username = "sa";
  s.password = "secret";
  return s;
}

ConnectionStringOptions Driver(const std::string& driver, const std::string& encrypt = "") {
  ConnectionStringOptions o;
  o.driver = driver;
  o.encrypt = encrypt;
  return o;
}

// The value a connection string gives a keyword, read the way a driver reads
// it; "<absent>" when missing. The ODBC rule: braces quote, "}}" is one '}'.
// FreeTDS 1.3: a braced value ends at the first "};" and is kept as written.
std::string ValueOf(const std::string& cs, const std::string& keyword,
                    DriverKind parser = DriverKind::Other) {
  size_t i = 0;
  while (i < cs.size()) {
    const size_t eq = cs.find('=', i);
    if (eq == std::string::npos) break;
    const std::string key = cs.substr(i, eq - i);
    std::string value;
    size_t j = eq + 1;
    if (j < cs.size() && cs[j] == '{' && parser == DriverKind::FreeTDS) {
      const size_t end = cs.find("};", j + 1);
      if (end == std::string::npos) return "<unterminated>";
      value = cs.substr(j + 1, end - j - 1);
      j = end + 1;
    } else if (j < cs.size() && cs[j] == '{') {
      ++j;
      for (;;) {
        if (j >= cs.size()) return "<unterminated>";
        if (cs[j] == '}') {
          if (j + 1 < cs.size() && cs[j + 1] == '}') {
            value += '}';
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value += cs[j++];
      }
    } else {
      const size_t semi = cs.find(';', j);
      value = cs.substr(j, semi == std::string::npos ? std::string::npos : semi - j);
      j = semi == std::string::npos ? cs.size() : semi;
    }
    if (strcasecmp(key.c_str(), keyword.c_str()) == 0) return value;
    if (j < cs.size() && cs[j] == ';') ++j;
    i = j;
  }
  return "<absent>";
}

struct EscapeCase {
  std::string raw;
  std::string escaped;
};

class EscapeConnectionValueTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeConnectionValueTest, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(EscapeConnectionValue(GetParam().raw), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Values, EscapeConnectionValueTest,
    ::testing::Values(EscapeCase{"secret", "secret"}, EscapeCase{"", ""},
                      EscapeCase{"a;b}c", "{a;b}}c}"}, EscapeCase{"a=b", "{a=b}"},
                      EscapeCase{"}", "{}}}"}, EscapeCase{"{x", "{{x}"},
                      EscapeCase{"}};", "{}}}};}"}, EscapeCase{" lead", "{ lead}"},
                      EscapeCase{"trail ", "{trail }"}, EscapeCase{"in side", "in side"}));

TEST(EscapeConnectionValueTest, FreeTdsKeepsBracesSingle) {
  EXPECT_EQ(EscapeConnectionValue("plain", DriverKind::FreeTDS), "plain");
  EXPECT_EQ(EscapeConnectionValue("a;b}c", DriverKind::FreeTDS), "{a;b}c}");
  EXPECT_EQ(EscapeConnectionValue("}", DriverKind::FreeTDS), "{}}");
  EXPECT_THROW(EscapeConnectionValue("a};b", DriverKind::FreeTDS), EMSError);
}

// Whatever a password holds, the driver reading the string gets it back
// unchanged (or, where FreeTDS cannot be told it, the provider says so).
class PasswordRoundTripTest : public ::testing::TestWithParam<std::string> {};

TEST_P(PasswordRoundTripTest, DriverReadsThePasswordBack) {
  for (DriverKind kind : {DriverKind::FreeTDS, DriverKind::Microsoft}) {
    ConnectionSettings s = Settings("db.example.com");
    s.password = GetParam();
    s.username = GetParam() + "user";
    const auto options = Driver(kind == DriverKind::FreeTDS ? "FreeTDS" : "ODBC Driver 18 for SQL Server");
    if (kind == DriverKind::FreeTDS && (GetParam() + "user").find("};") != std::string::npos) {
      EXPECT_THROW(BuildConnectionString(s, options), EMSError);
      continue;
    }
    const std::string cs = BuildConnectionString(s, options);
    EXPECT_EQ(ValueOf(cs, "PWD", kind), GetParam()) << cs;
    EXPECT_EQ(ValueOf(cs, "UID", kind), GetParam() + "user") << cs;
    // Nothing leaked out of the value into keywords of its own.
    EXPECT_EQ(ValueOf(cs, "SERVER", kind), "db.example.com") << cs;
    EXPECT_EQ(ValueOf(cs, "DATABASE", kind), "tersify") << cs;
  }
}

INSTANTIATE_TEST_SUITE_P(Passwords, PasswordRoundTripTest,
                         ::testing::Values("plain", "a;b}c", "x;DATABASE=master", "}", "{",
                                           "};", "=;=", "a}}b", "p w d", "x}"));

struct ServerCase {
  std::string name;
  std::string server;
  int port;
  std::string freetds_server;  // SERVER for FreeTDS
  std::string freetds_port;    // PORT for FreeTDS
  std::string microsoft_server;
};

class ServerFormTest : public ::testing::TestWithParam<ServerCase> {};

TEST_P(ServerFormTest, FreeTdsGetsServerAndPort) {
  const ServerCase& c = GetParam();
  const std::string cs = BuildConnectionString(Settings(c.server, c.port), Driver("FreeTDS"));
  EXPECT_EQ(ValueOf(cs, "SERVER"), c.freetds_server) << cs;
  EXPECT_EQ(ValueOf(cs, "PORT"), c.freetds_port) << cs;
}

TEST_P(ServerFormTest, MicrosoftGetsHostCommaPort) {
  const ServerCase& c = GetParam();
  const std::string cs =
      BuildConnectionString(Settings(c.server, c.port), Driver("{ODBC Driver 18 for SQL Server}"));
  EXPECT_EQ(ValueOf(cs, "SERVER"), c.microsoft_server) << cs;
  EXPECT_EQ(ValueOf(cs, "PORT"), "<absent>") << cs;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ServerFormTest,
    ::testing::Values(
        ServerCase{"Host", "db1", 0, "db1", "<absent>", "db1"},
        ServerCase{"HostComma", "db1,1544", 0, "db1", "1544", "db1,1544"},
        ServerCase{"HostCommaBlanks", " db1 , 1544 ", 0, "db1", "1544", "db1,1544"},
        ServerCase{"Instance", "db1\\SQLEXPRESS", 0, "db1\\SQLEXPRESS", "<absent>", "db1\\SQLEXPRESS"},
        ServerCase{"PortWinsOverServerPort", "db1,1544", 14330, "db1", "14330", "db1,14330"},
        ServerCase{"PortWinsOverInstance", "db1\\SQLEXPRESS", 14330, "db1", "14330", "db1,14330"},
        ServerCase{"InstanceAndPort", "db1\\SQLEXPRESS,1544", 0, "db1", "1544", "db1,1544"},
        ServerCase{"PortOnly", "127.0.0.1", 14330, "127.0.0.1", "14330", "127.0.0.1,14330"}),
    [](const ::testing::TestParamInfo<ServerCase>& info) { return info.param.name; });

class BadServerTest : public ::testing::TestWithParam<std::pair<std::string, int>> {};

TEST_P(BadServerTest, IsRefusedWithItsName) {
  try {
    BuildConnectionString(Settings(GetParam().first, GetParam().second), Driver("FreeTDS"));
    FAIL() << "accepted " << GetParam().first;
  } catch (const EMSError& e) {
    EXPECT_NE(std::string(e.what()).find("nvalid"), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Values, BadServerTest,
                         ::testing::Values(std::make_pair("db1,abc", 0), std::make_pair("db1,", 0),
                                           std::make_pair("db1,70000", 0),
                                           std::make_pair(",1433", 0), std::make_pair("", 0),
                                           std::make_pair("db1\\", 0),
                                           std::make_pair("db1", -1)));

TEST(DriverKindTest, RecognisesFamiliesByNameOrPath) {
  EXPECT_EQ(DriverKindOf("FreeTDS"), DriverKind::FreeTDS);
  EXPECT_EQ(DriverKindOf("{FreeTDS}"), DriverKind::FreeTDS);
  EXPECT_EQ(DriverKindOf("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"), DriverKind::FreeTDS);
  EXPECT_EQ(DriverKindOf("{ODBC Driver 18 for SQL Server}"), DriverKind::Microsoft);
  EXPECT_EQ(DriverKindOf("ODBC Driver 17 for SQL Server"), DriverKind::Microsoft);
  EXPECT_EQ(DriverKindOf("/opt/microsoft/msodbcsql18/lib64/libmsodbcsql-18.3.so.2.1"),
            DriverKind::Microsoft);
  EXPECT_EQ(DriverKindOf("SQL Server Wire"), DriverKind::Other);
}

TEST(ConnectionStringTest, FreeTdsDefaultsLiftLimitsAndUseUtf8) {
  const std::string cs = BuildConnectionString(Settings("db1"), ConnectionStringOptions{});
  EXPECT_EQ(cs.rfind("DRIVER={FreeTDS};", 0), 0u) << cs;
  EXPECT_EQ(ValueOf(cs, "TDS_Version"), "7.4");
  EXPECT_EQ(ValueOf(cs, "ClientCharset"), "UTF-8");
  // No SET TEXTSIZE request of FreeTDS's own: the provider's first request sets it.
  EXPECT_EQ(ValueOf(cs, "TextSize"), "0");
  EXPECT_EQ(ValueOf(cs, "DATABASE"), "tersify");
  EXPECT_EQ(ValueOf(cs, "Encryption"), "<absent>");
}

TEST(ConnectionStringTest, MicrosoftDriverGetsNoFreeTdsKeywords) {
  const std::string cs =
      BuildConnectionString(Settings("db1", 1433), Driver("ODBC Driver 18 for SQL Server"));
  EXPECT_EQ(ValueOf(cs, "DRIVER"), "ODBC Driver 18 for SQL Server");
  EXPECT_EQ(ValueOf(cs, "TDS_Version"), "<absent>");
  EXPECT_EQ(ValueOf(cs, "ClientCharset"), "<absent>");
  EXPECT_EQ(ValueOf(cs, "TextSize"), "<absent>");
}

TEST(ConnectionStringTest, DriverPathIsKeptWhole) {
  const std::string path = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
  const std::string cs = BuildConnectionString(Settings("db1"), Driver(path));
  EXPECT_EQ(ValueOf(cs, "DRIVER"), path);
  EXPECT_EQ(ValueOf(cs, "TDS_Version"), "7.4");
}

TEST(ConnectionStringTest, EmptyDatabaseIsLeftOut) {
  ConnectionSettings s = Settings("db1");
  s.database.clear();
  EXPECT_EQ(ValueOf(BuildConnectionString(s, Driver("FreeTDS")), "DATABASE"), "<absent>");
}

TEST(ConnectionStringTest, WindowsAuthenticationPerDriver) {
  ConnectionSettings s = Settings("db1");
  s.windows_authentication = true;
  const std::string freetds = BuildConnectionString(s, Driver("FreeTDS"));
  EXPECT_EQ(ValueOf(freetds, "UID"), "<absent>") << freetds;
  EXPECT_EQ(ValueOf(freetds, "PWD"), "<absent>") << freetds;
  const std::string microsoft = BuildConnectionString(s, Driver("ODBC Driver 18 for SQL Server"));
  EXPECT_EQ(ValueOf(microsoft, "Trusted_Connection"), "yes") << microsoft;
  EXPECT_EQ(ValueOf(microsoft, "UID"), "<absent>") << microsoft;
}

struct EncryptCase {
  std::string setting;
  std::string freetds;    // Encryption=
  std::string microsoft;  // Encrypt=
};

class EncryptionTest : public ::testing::TestWithParam<EncryptCase> {};

TEST_P(EncryptionTest, MapsToEachDriversKeyword) {
  const EncryptCase& c = GetParam();
  const std::string f = BuildConnectionString(Settings("db1"), Driver("FreeTDS", c.setting));
  EXPECT_EQ(ValueOf(f, "Encryption"), c.freetds) << f;
  EXPECT_EQ(ValueOf(f, "Encrypt"), "<absent>") << f;
  const std::string m =
      BuildConnectionString(Settings("db1"), Driver("ODBC Driver 18 for SQL Server", c.setting));
  EXPECT_EQ(ValueOf(m, "Encrypt"), c.microsoft) << m;
  EXPECT_EQ(ValueOf(m, "Encryption"), "<absent>") << m;
}

INSTANTIATE_TEST_SUITE_P(Settings, EncryptionTest,
                         ::testing::Values(EncryptCase{"no", "off", "no"},
                                           EncryptCase{"OFF", "off", "no"},
                                           EncryptCase{"yes", "require", "yes"},
                                           EncryptCase{"mandatory", "require", "yes"},
                                           EncryptCase{"optional", "request", "optional"},
                                           EncryptCase{"strict", "strict", "strict"}));

TEST(ConnectionStringTest, UnknownEncryptionSettingIsRefused) {
  EXPECT_THROW(BuildConnectionString(Settings("db1"), Driver("FreeTDS", "maybe")), EMSError);
}

TEST(ConnectionStringTest, SpecificOptionsPassThroughAndWin) {
  ConnectionSettings s = Settings("db1");
  s.specific_options = {"TrustServerCertificate=yes", "  ", "encrypt = no", "APP=my;app",
                        "HostNameInCertificate=db1.example.com"};
  const std::string cs = BuildConnectionString(s, Driver("ODBC Driver 18 for SQL Server", "yes"));
  EXPECT_EQ(ValueOf(cs, "TrustServerCertificate"), "yes") << cs;
  EXPECT_EQ(ValueOf(cs, "Encrypt"), "no") << cs;  // the option wins over the environment
  EXPECT_EQ(ValueOf(cs, "APP"), "my;app") << cs;
  EXPECT_EQ(ValueOf(cs, "HostNameInCertificate"), "db1.example.com") << cs;
  // Replaced in place, not repeated.
  EXPECT_EQ(cs.find("Encrypt="), cs.rfind("Encrypt=")) << cs;
}

TEST(ConnectionStringTest, SpecificOptionsCanOverrideGeneratedKeywords) {
  ConnectionSettings s = Settings("db1");
  s.specific_options = {"TDS_Version=7.3", "Port=2000"};
  const std::string cs = BuildConnectionString(s, Driver("FreeTDS"));
  EXPECT_EQ(ValueOf(cs, "TDS_Version"), "7.3") << cs;
  EXPECT_EQ(ValueOf(cs, "PORT"), "2000") << cs;
}

class BadOptionTest : public ::testing::TestWithParam<std::string> {};

TEST_P(BadOptionTest, IsRefused) {
  ConnectionSettings s = Settings("db1");
  s.specific_options = {GetParam()};
  EXPECT_THROW(BuildConnectionString(s, Driver("FreeTDS")), EMSError);
}

INSTANTIATE_TEST_SUITE_P(Lines, BadOptionTest,
                         ::testing::Values("Encrypt", "=yes", "a;UID=x=1", "{x}=1"));

TEST(ConnectionStringTest, EnvironmentNamesDriverAndEncryption) {
  ::setenv("TERSIFY_ODBC_DRIVER", "{ODBC Driver 18 for SQL Server}", 1);
  ::setenv("TERSIFY_ODBC_ENCRYPT", "strict", 1);
  const ConnectionStringOptions o = ConnectionStringOptionsFromEnvironment();
  ::unsetenv("TERSIFY_ODBC_DRIVER");
  ::unsetenv("TERSIFY_ODBC_ENCRYPT");
  EXPECT_EQ(o.driver, "{ODBC Driver 18 for SQL Server}");
  EXPECT_EQ(o.encrypt, "strict");
  const ConnectionStringOptions defaults = ConnectionStringOptionsFromEnvironment();
  EXPECT_EQ(defaults.driver, "FreeTDS");
  EXPECT_EQ(defaults.encrypt, "");
}


// ---- Extra attributes from the user (TERSIFY_ODBC_OPTIONS) -----------------

struct AttributeCase {
  const char* text;
  std::vector<std::pair<std::string, std::string>> parsed;
};

class AttributeListTest : public ::testing::TestWithParam<AttributeCase> {};

TEST_P(AttributeListTest, SplitsAtSemicolonsOutsideBraces) {
  EXPECT_EQ(ParseAttributeList(GetParam().text), GetParam().parsed);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AttributeListTest,
    ::testing::Values(AttributeCase{"", {}}, AttributeCase{" ; ;", {}},
                      AttributeCase{"Encryption=require", {{"Encryption", "require"}}},
                      AttributeCase{" a = 1 ;b=2;", {{"a", "1"}, {"b", "2"}}},
                      AttributeCase{"CAFile={/etc/my;ca}}.pem};x=", {{"CAFile", "/etc/my;ca}.pem"}, {"x", ""}}},
                      AttributeCase{"APP={ spaced }", {{"APP", " spaced "}}}));

class BadAttributeListTest : public ::testing::TestWithParam<std::string> {};

TEST_P(BadAttributeListTest, IsRefused) { EXPECT_THROW(ParseAttributeList(GetParam()), EMSError); }

INSTANTIATE_TEST_SUITE_P(Texts, BadAttributeListTest,
                         ::testing::Values("Encryption", "=yes", "a={open", "a={x}y;", "{x}=1"));

TEST(ConnectionStringTest, ExtraAttributesAreEscapedAndWinOverGeneratedOnes) {
  ConnectionStringOptions o = Driver("FreeTDS", "no");
  o.extra_attributes = "Encryption=require;CAFile={/etc/ssl/db;ca.pem};TDS_Version=7.3";
  ConnectionSettings s = Settings("db1");
  s.specific_options = {"TDS_Version=7.2"};
  const std::string cs = BuildConnectionString(s, o);
  EXPECT_EQ(ValueOf(cs, "Encryption", DriverKind::FreeTDS), "require") << cs;
  EXPECT_EQ(ValueOf(cs, "CAFile", DriverKind::FreeTDS), "/etc/ssl/db;ca.pem") << cs;
  // SpecificOptions, set in code, come last.
  EXPECT_EQ(ValueOf(cs, "TDS_Version", DriverKind::FreeTDS), "7.2") << cs;
  EXPECT_EQ(cs.find("Encryption="), cs.rfind("Encryption=")) << cs;
}

TEST(ConnectionStringTest, EnvironmentGivesExtraAttributes) {
  ::setenv("TERSIFY_ODBC_OPTIONS", "Encryption=require;", 1);
  const ConnectionStringOptions o = ConnectionStringOptionsFromEnvironment();
  ::unsetenv("TERSIFY_ODBC_OPTIONS");
  EXPECT_EQ(o.extra_attributes, "Encryption=require;");
  EXPECT_EQ(ConnectionStringOptionsFromEnvironment().extra_attributes, "");
}

// ---- ODBC data sources (/IP=dsn:<name>) ---------------------------------------

// A data source as odbc.ini would hold it.
ConnectionStringOptions WithDataSource(std::map<std::string, std::string> entries) {
  ConnectionStringOptions o;
  o.data_source = [entries](const std::string& dsn, const std::string& key) -> std::string {
    if (dsn != "Accounts") return {};
    auto it = entries.find(key);
    return it == entries.end() ? std::string() : it->second;
  };
  return o;
}

TEST(DataSourceTest, NameIsTakenFromTheServerValue) {
  EXPECT_EQ(DataSourceName("dsn:Accounts"), "Accounts");
  EXPECT_EQ(DataSourceName(" DSN: Accounts "), "Accounts");
  EXPECT_EQ(DataSourceName("dbserver,1433"), "");
  EXPECT_EQ(DataSourceName("dsn"), "");
  EXPECT_THROW(DataSourceName("dsn:"), EMSError);
  EXPECT_THROW(DataSourceName("dsn:a;DRIVER=x"), EMSError);
}

TEST(DataSourceTest, ServerAndDriverComeFromTheDataSourceAndGivenValuesWin) {
  const ConnectionStringOptions o = WithDataSource({{"Driver", "FreeTDS"}, {"Server", "db1"}, {"Port", "1433"}});
  const std::string cs = BuildConnectionString(Settings("dsn:Accounts"), o);
  EXPECT_EQ(ValueOf(cs, "DSN"), "Accounts") << cs;
  EXPECT_EQ(cs.find("DRIVER="), std::string::npos) << cs;
  EXPECT_EQ(cs.find("SERVER="), std::string::npos) << cs;
  EXPECT_EQ(cs.find("PORT="), std::string::npos) << cs;
  EXPECT_EQ(ValueOf(cs, "DATABASE"), "tersify") << cs;
  EXPECT_EQ(ValueOf(cs, "UID"), "sa") << cs;
  EXPECT_EQ(ValueOf(cs, "PWD"), "secret") << cs;
  // A FreeTDS data source still gets its defaults.
  EXPECT_EQ(ValueOf(cs, "TextSize"), "0") << cs;
  EXPECT_EQ(ValueOf(cs, "ClientCharset"), "UTF-8") << cs;
}

TEST(DataSourceTest, ValuesNotGivenAreLeftToTheDataSource) {
  ConnectionSettings s;
  s.server = "dsn:Accounts";
  const ConnectionStringOptions o =
      WithDataSource({{"Driver", "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"}, {"TDS_Version", "7.3"}});
  const std::string cs = BuildConnectionString(s, o);
  EXPECT_EQ(cs.find("DATABASE="), std::string::npos) << cs;
  EXPECT_EQ(cs.find("UID="), std::string::npos) << cs;
  EXPECT_EQ(cs.find("PWD="), std::string::npos) << cs;
  EXPECT_EQ(cs.find("TDS_Version="), std::string::npos) << cs;  // the data source's own stays
  // A password given alone is sent with the data source's user.
  s.password = "p;w";
  EXPECT_EQ(ValueOf(BuildConnectionString(s, o), "PWD", DriverKind::FreeTDS), "p;w");
}

// Drivers read neither UID nor PWD from odbc.ini: the data source's own are
// sent for what the command line leaves out.
TEST(DataSourceTest, AUserAndPasswordLeftOutAreTheDataSourcesOwn) {
  const ConnectionStringOptions o =
      WithDataSource({{"Driver", "FreeTDS"}, {"UID", "dsn_user"}, {"PWD", "dsn;pw"}});
  ConnectionSettings s;
  s.server = "dsn:Accounts";
  std::string cs = BuildConnectionString(s, o);
  EXPECT_EQ(ValueOf(cs, "UID", DriverKind::FreeTDS), "dsn_user") << cs;
  EXPECT_EQ(ValueOf(cs, "PWD", DriverKind::FreeTDS), "dsn;pw") << cs;
  // A password given alone goes with the data source's user.
  s.password = "given";
  cs = BuildConnectionString(s, o);
  EXPECT_EQ(ValueOf(cs, "UID", DriverKind::FreeTDS), "dsn_user") << cs;
  EXPECT_EQ(ValueOf(cs, "PWD", DriverKind::FreeTDS), "given") << cs;
  // Another user never gets the data source's password.
  s.username = "other";
  s.password.clear();
  cs = BuildConnectionString(s, o);
  EXPECT_EQ(ValueOf(cs, "UID", DriverKind::FreeTDS), "other") << cs;
  EXPECT_EQ(ValueOf(cs, "PWD", DriverKind::FreeTDS), "") << cs;
}

TEST(DataSourceTest, AnotherDriversDataSourceGetsNoFreeTdsKeywords) {
  const ConnectionStringOptions o = WithDataSource({{"Driver", "ODBC Driver 18 for SQL Server"}});
  const std::string cs = BuildConnectionString(Settings("dsn:Accounts"), o);
  EXPECT_EQ(cs.find("TextSize="), std::string::npos) << cs;
  EXPECT_EQ(ConnectionDriverKind(Settings("dsn:Accounts"), o), DriverKind::Microsoft);
}

}  // namespace
}  // namespace tersify::providers::odbc
