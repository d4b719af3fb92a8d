#include "db/developer_settings.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "db/database.h"
#include "db/registries.h"
#include "framework/rtl/platform.h"

namespace tersify {

namespace {

std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// Decimal with an optional sign, or 0x and up to eight hexadecimal digits
// (taken as the 32-bit pattern, as 0xFFFFFFFF for -1).
bool ParseInteger(const std::string& text, int& value) {
  if (text.empty()) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  char* end = nullptr;
  errno = 0;
  if (hex) {
    if (digits.size() > 8 || !std::isxdigit(static_cast<unsigned char>(digits[0]))) return false;
    const unsigned long long bits = std::strtoull(digits.c_str(), &end, 16);
    if (*end != '\0') return false;
    value = static_cast<int>(static_cast<uint32_t>(bits));
    return true;
  }
  const long long number = std::strtoll(digits.c_str(), &end, 10);
  if (end == digits.c_str() || *end != '\0' || errno == ERANGE || std::isspace(static_cast<unsigned char>(digits[0])))
    return false;
  if (number < INT32_MIN || number > INT32_MAX) return false;
  value = static_cast<int>(number);
  return true;
}

}  // namespace

std::string DeveloperSettingsFileName() {
  const char* named = std::getenv("TERSIFY_DEVELOPER_SETTINGS");
  if (named && *named) return named;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config == '/') return std::string(config) + "/tersify/developer.ini";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/tersify/developer.ini";
  return {};
}

TIniSection::TIniSection(const std::string& file_name, const std::string& section) {
  std::ifstream file(file_name, std::ios::binary);
  std::string line;
  bool inside = false;
  while (std::getline(file, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      inside = close != std::string::npos && SameText(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    const size_t equals = line.find('=');
    if (!inside || equals == std::string::npos) continue;
    values_.emplace_back(Trim(line.substr(0, equals)), Unquoted(Trim(line.substr(equals + 1))));
  }
}

const std::string* TIniSection::Find(const std::string& key) const {
  for (const auto& [name, value] : values_)
    if (SameText(name, key)) return &value;
  return nullptr;
}

std::string TIniSection::ReadString(const std::string& key, const std::string& default_value) const {
  const std::string* value = Find(key);
  return value ? *value : default_value;
}

int TIniSection::ReadInteger(const std::string& key, int default_value) const {
  const std::string* text = Find(key);
  int value = 0;
  return text && ParseInteger(*text, value) ? value : default_value;
}

bool TIniSection::ReadBool(const std::string& key, bool default_value) const {
  return ReadInteger(key, default_value ? 1 : 0) != 0;
}

void TvrDatabase::LoadSettings(const std::string& file_name, const std::string& section) {
  const TIniSection settings(file_name, section);
  // Each value through its setter, in this order: the two types couple, so a
  // missing CONNECTION_TYPE (read as 1) decides over DATABASE_TYPE.
  SetUsername(settings.ReadString("USERNAME", ""));
  SetPassword(settings.ReadString("PASSWORD", ""));
  SetDatabaseName(settings.ReadString("DATABASE", ""));
  SetServer(settings.ReadString("SERVER", ""));
  switch (settings.ReadInteger("DATABASE_TYPE", 1)) {
    case 0:
      SetDatabaseType(vrdbtSQL);
      break;
    case 1:
      SetDatabaseType(vrdbtMSSQL);
      break;
    case 2:
      SetDatabaseType(vrdbtOracle);
      break;
    default:
      break;
  }
  switch (settings.ReadInteger("CONNECTION_TYPE", 1)) {
    case 1:
      SetConnectionType(ctSDAC);
      break;
    case 2:
      SetConnectionType(ctODAC);
      break;
    case 3:
      SetConnectionType(ctODACNET);
      break;
    default:
      break;
  }
  SetUseWindowsAuthentication(settings.ReadBool("WINDOWS_AUTH", false));
}

void LoadDesignTimeDefaultDatabase() {
  if (DefaultDatabase.load()) return;
  const std::string file_name = DeveloperSettingsFileName();
  std::error_code error;
  if (file_name.empty() || !std::filesystem::is_regular_file(file_name, error)) return;
  // Made without an owner: as the default database it is destroyed when the
  // layer shuts down.
  auto* database = std::make_unique<TvrDatabase>(nullptr).release();
  DefaultDatabase = database;
  database->LoadSettings(file_name, "DATABASE");
}

}  // namespace tersify
