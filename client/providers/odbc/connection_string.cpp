#include "client/providers/odbc/connection_string.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include "client/providers/odbc/odbc_api.h"  // before odbcinst.h

#include <odbcinst.h>

#include "client/errors.h"

namespace tersify::providers::odbc {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool Contains(const std::string& haystack, const char* needle) {
  return haystack.find(needle) != std::string::npos;
}

// A driver name without the braces a user may have written around it.
std::string BareDriverName(const std::string& driver) {
  std::string d = Trim(driver);
  if (d.size() >= 2 && d.front() == '{' && d.back() == '}') d = d.substr(1, d.size() - 2);
  return d;
}

int ParsePort(const std::string& text, const std::string& server) {
  const std::string t = Trim(text);
  int port = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), port);
  if (t.empty() || ec != std::errc() || ptr != t.data() + t.size() || port <= 0 || port > 65535)
    throw EMSError("Invalid port in server name '" + server + "'");
  return port;
}

// The connection string's keywords in order; a later Set of the same name
// (any letter case) replaces the value in place.
class KeywordList {
 public:
  void Set(const std::string& name, const std::string& value) {
    const std::string key = Lower(name);
    for (auto& [n, v] : items_) {
      if (Lower(n) == key) {
        v = value;
        return;
      }
    }
    items_.emplace_back(name, value);
  }
  // The driver name is read by the driver manager, which takes it braced by
  // custom ("{FreeTDS}"); a '}' in it is doubled as ODBC says.
  std::string Text(DriverKind kind) const {
    std::string out;
    for (const auto& [n, v] : items_) {
      const bool driver = Lower(n) == "driver";
      std::string text = EscapeConnectionValue(v, driver ? DriverKind::Other : kind);
      if (driver && (text.empty() || text.front() != '{')) text = "{" + text + "}";
      out += n + "=" + text + ";";
    }
    return out;
  }

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};

// The level an encryption setting names; nullopt for a word it does not know.
std::optional<EncryptionDemand> EncryptionLevel(const std::string& setting) {
  const std::string s = Lower(Trim(setting));
  if (s == "no" || s == "off" || s == "false" || s == "0") return EncryptionDemand::Off;
  if (s == "optional" || s == "request") return EncryptionDemand::Request;
  if (s == "yes" || s == "on" || s == "true" || s == "1" || s == "require" || s == "mandatory")
    return EncryptionDemand::Require;
  if (s == "strict") return EncryptionDemand::Strict;
  return std::nullopt;
}

// The encryption keyword and value for a driver family; empty name for none.
std::pair<std::string, std::string> EncryptionKeyword(DriverKind kind, const std::string& setting) {
  if (Trim(setting).empty()) return {};
  const std::optional<EncryptionDemand> demand = EncryptionLevel(setting);
  if (!demand)
    throw EMSError("Invalid encryption setting '" + setting +
                   "' (expected yes, no, optional or strict)");
  const int level = static_cast<int>(*demand) - static_cast<int>(EncryptionDemand::Off);
  if (kind == DriverKind::FreeTDS) {
    static const char* const kFreeTds[] = {"off", "request", "require", "strict"};
    return {"Encryption", kFreeTds[level]};
  }
  static const char* const kMicrosoft[] = {"no", "optional", "yes", "strict"};
  return {"Encrypt", kMicrosoft[level]};
}

}  // namespace

DriverKind DriverKindOf(const std::string& driver) {
  const std::string d = Lower(BareDriverName(driver));
  if (Contains(d, "freetds") || Contains(d, "tdsodbc")) return DriverKind::FreeTDS;
  if (Contains(d, "msodbcsql") || (Contains(d, "odbc driver") && Contains(d, "sql server")))
    return DriverKind::Microsoft;
  return DriverKind::Other;
}

std::string EscapeConnectionValue(const std::string& value, DriverKind kind) {
  const bool plain =
      value.find_first_of(";{}=") == std::string::npos &&
      (value.empty() || (!std::isspace(static_cast<unsigned char>(value.front())) &&
                         !std::isspace(static_cast<unsigned char>(value.back()))));
  if (plain) return value;
  if (kind == DriverKind::FreeTDS) {
    if (value.find("};") != std::string::npos)
      throw EMSError("A connection value holding \"};\" cannot be passed to the FreeTDS driver");
    return "{" + value + "}";
  }
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

ServerAddress ParseServer(const std::string& server, int port) {
  ServerAddress a;
  std::string rest = Trim(server);
  const size_t comma = rest.rfind(',');
  if (comma != std::string::npos) {
    a.port = ParsePort(rest.substr(comma + 1), server);
    rest = Trim(rest.substr(0, comma));
  }
  const size_t slash = rest.find('\\');
  if (slash != std::string::npos) {
    a.instance = Trim(rest.substr(slash + 1));
    rest = Trim(rest.substr(0, slash));
    if (a.instance.empty()) throw EMSError("Invalid instance in server name '" + server + "'");
  }
  a.host = rest;
  if (a.host.empty()) throw EMSError("Invalid server name '" + server + "'");
  if (port < 0 || port > 65535) throw EMSError("Invalid port " + std::to_string(port));
  if (port != 0) a.port = port;
  return a;
}

std::string DataSourceName(const std::string& server) {
  const std::string s = Trim(server);
  if (s.size() < 4 || Lower(s.substr(0, 4)) != "dsn:") return {};
  const std::string name = Trim(s.substr(4));
  if (name.empty() || name.find_first_of(";{}[]=") != std::string::npos)
    throw EMSError("Invalid data source name in server name '" + server + "'");
  return name;
}

std::string ReadDataSourceEntry(const std::string& dsn, const std::string& key) {
  char value[1024] = {};
  const int n = SQLGetPrivateProfileString(dsn.c_str(), key.c_str(), "", value, sizeof value, "odbc.ini");
  return n > 0 ? std::string(value, strnlen(value, sizeof value)) : std::string();
}

std::vector<std::pair<std::string, std::string>> ParseAttributeList(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t eq = text.find_first_of("=;", i);
    if (eq == std::string::npos || text[eq] == ';') {
      const std::string part = Trim(text.substr(i, eq == std::string::npos ? std::string::npos : eq - i));
      if (!part.empty()) throw EMSError("Invalid connection option '" + part + "' (expected name=value)");
      i = eq == std::string::npos ? text.size() : eq + 1;
      continue;
    }
    const std::string name = Trim(text.substr(i, eq - i));
    if (name.empty() || name.find_first_of("{}[]") != std::string::npos)
      throw EMSError("Invalid connection option name '" + name + "' (expected name=value)");
    size_t v = eq + 1;
    while (v < text.size() && text[v] == ' ') ++v;
    std::string value;
    if (v < text.size() && text[v] == '{') {
      size_t j = v + 1;
      for (;; ++j) {
        if (j >= text.size()) throw EMSError("Unterminated '{' in the value of connection option '" + name + "'");
        if (text[j] != '}') {
          value += text[j];
        } else if (j + 1 < text.size() && text[j + 1] == '}') {
          value += '}';
          ++j;
        } else {
          break;
        }
      }
      const size_t end = text.find(';', j + 1);
      if (!Trim(text.substr(j + 1, end == std::string::npos ? std::string::npos : end - j - 1)).empty())
        throw EMSError("Unexpected text after the braced value of connection option '" + name + "'");
      i = end == std::string::npos ? text.size() : end + 1;
    } else {
      const size_t end = text.find(';', v);
      value = Trim(text.substr(v, end == std::string::npos ? std::string::npos : end - v));
      i = end == std::string::npos ? text.size() : end + 1;
    }
    out.emplace_back(name, value);
  }
  return out;
}

ConnectionStringOptions ConnectionStringOptionsFromEnvironment() {
  ConnectionStringOptions o;
  if (const char* d = std::getenv("TERSIFY_ODBC_DRIVER"); d && *d) o.driver = d;
  if (const char* e = std::getenv("TERSIFY_ODBC_ENCRYPT"); e && *e) o.encrypt = e;
  if (const char* x = std::getenv("TERSIFY_ODBC_OPTIONS"); x && *x) o.extra_attributes = x;
  return o;
}

DriverKind ConnectionDriverKind(const ConnectionSettings& settings,
                                const ConnectionStringOptions& options) {
  const std::string dsn = DataSourceName(settings.server);
  if (!dsn.empty()) return options.data_source ? DriverKindOf(options.data_source(dsn, "Driver")) : DriverKind::Other;
  return DriverKindOf(options.driver.empty() ? DefaultDriver() : options.driver);
}

EncryptionDemand ConnectionEncryption(const ConnectionSettings& settings,
                                      const ConnectionStringOptions& options) {
  EncryptionDemand demand = EncryptionDemand::DriverDefault;
  auto consider = [&demand](const std::string& name, const std::string& value) {
    const std::string n = Lower(Trim(name));
    if (n != "encryption" && n != "encrypt") return;
    if (const std::optional<EncryptionDemand> level = EncryptionLevel(value)) demand = *level;
  };
  if (const std::string dsn = DataSourceName(settings.server); !dsn.empty() && options.data_source) {
    consider("Encryption", options.data_source(dsn, "Encryption"));
    consider("Encrypt", options.data_source(dsn, "Encrypt"));
  }
  consider("Encryption", options.encrypt);
  try {
    for (const auto& [name, value] : ParseAttributeList(options.extra_attributes)) consider(name, value);
  } catch (const EMSError&) {
    // Building the connection string reports it.
  }
  for (const std::string& line : settings.specific_options) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) consider(line.substr(0, eq), line.substr(eq + 1));
  }
  return demand;
}

namespace {

// The credentials of the settings. With a data source, what is left out comes
// from the data source's own UID and PWD entries, read here because drivers
// (FreeTDS among them) take neither from odbc.ini themselves. Without a data
// source and a user, Windows logs in with the user's own account.
void SetCredentials(KeywordList& k, const ConnectionSettings& settings, DriverKind kind, const std::string& dsn,
                    const DataSourceLookup& lookup) {
  const bool own_account = settings.windows_authentication ||
                           (dsn.empty() && settings.username.empty() && EmptyUserMeansWindowsLogin());
  if (own_account) {
    // FreeTDS takes an empty user as "use Kerberos"; Microsoft's driver wants it said.
    if (kind != DriverKind::FreeTDS) k.Set("Trusted_Connection", "yes");
    return;
  }
  if (dsn.empty()) {
    k.Set("UID", settings.username);
    k.Set("PWD", settings.password);
    return;
  }
  // A user given on its own does not borrow the data source's password, which
  // belongs to the data source's user.
  const bool own_user = settings.username.empty();
  const std::string user = own_user && lookup ? lookup(dsn, "UID") : settings.username;
  std::string password = settings.password;
  if (password.empty() && own_user && lookup) password = lookup(dsn, "PWD");
  if (!user.empty()) k.Set("UID", user);
  if (!user.empty() || !password.empty()) k.Set("PWD", password);
}

// Keywords FreeTDS needs so that text arrives as UTF-8; a data source that
// sets one keeps its own. TextSize 0: FreeTDS sends no SET TEXTSIZE request
// of its own after the log-in (a round trip); the provider's first request
// sets it so that no value is cut (odbc_connection.cpp).
void SetFreeTdsDefaults(KeywordList& k, const std::string& dsn, const DataSourceLookup& lookup) {
  const std::pair<const char*, const char*> defaults[] = {
      {"TDS_Version", "7.4"}, {"ClientCharset", "UTF-8"}, {"TextSize", "0"}};
  for (const auto& [name, value] : defaults)
    if (dsn.empty() || !lookup || lookup(dsn, name).empty()) k.Set(name, value);
}

// Driver, server and port, database and credentials of a server address.
void BuildServerKeywords(KeywordList& k, const ConnectionSettings& settings,
                         const ConnectionStringOptions& options, DriverKind kind) {
  const std::string driver = BareDriverName(options.driver.empty() ? DefaultDriver() : options.driver);
  const ServerAddress address = ParseServer(settings.server, settings.port);
  k.Set("DRIVER", driver);
  if (kind == DriverKind::FreeTDS) {
    // A known port makes the instance name moot: FreeTDS would ask the browser
    // service for a port we already know.
    if (address.port != 0) {
      k.Set("SERVER", address.host);
      k.Set("PORT", std::to_string(address.port));
    } else if (!address.instance.empty()) {
      k.Set("SERVER", address.host + "\\" + address.instance);
    } else {
      k.Set("SERVER", address.host);
    }
  } else {
    if (address.port != 0)
      k.Set("SERVER", address.host + "," + std::to_string(address.port));
    else if (!address.instance.empty())
      k.Set("SERVER", address.host + "\\" + address.instance);
    else
      k.Set("SERVER", address.host);
  }
  if (!settings.database.empty()) k.Set("DATABASE", settings.database);
  SetCredentials(k, settings, kind, {}, nullptr);
  if (kind == DriverKind::FreeTDS) SetFreeTdsDefaults(k, {}, nullptr);
}

}  // namespace

std::string BuildConnectionString(const ConnectionSettings& settings,
                                  const ConnectionStringOptions& options) {
  const std::string dsn = DataSourceName(settings.server);
  const DriverKind kind = ConnectionDriverKind(settings, options);
  KeywordList k;
  if (!dsn.empty()) {
    k.Set("DSN", dsn);
    if (!settings.database.empty()) k.Set("DATABASE", settings.database);
    SetCredentials(k, settings, kind, dsn, options.data_source);
    if (kind == DriverKind::FreeTDS) SetFreeTdsDefaults(k, dsn, options.data_source);
  } else {
    BuildServerKeywords(k, settings, options, kind);
  }
  if (settings.multiple_active_result_sets && kind == DriverKind::Microsoft)
    k.Set("MARS_Connection", "yes");

  if (auto [name, value] = EncryptionKeyword(kind, options.encrypt); !name.empty())
    k.Set(name, value);

  // The user's extra attributes, then the provider-specific lines: the later win.
  for (const auto& [name, value] : ParseAttributeList(options.extra_attributes)) k.Set(name, value);
  for (const std::string& raw : settings.specific_options) {
    const std::string line = Trim(raw);
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    const std::string name = eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
    if (name.empty() || name.find_first_of(";{}[]") != std::string::npos)
      throw EMSError("Invalid connection option '" + line + "' (expected name=value)");
    k.Set(name, Trim(line.substr(eq + 1)));
  }
  return k.Text(kind);
}

}  // namespace tersify::providers::odbc
