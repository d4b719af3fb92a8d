#pragma once
// The developer settings file: an INI file whose "DATABASE" section gives the
// connection values of a default database for datasets edited in design mode
// (TvrDatabase::LoadSettings, LoadDesignTimeDefaultDatabase in db/database.h).
// The program itself never reads it.
//
// Where it lives: the file named by the environment variable
// TERSIFY_DEVELOPER_SETTINGS when that is set and not empty; otherwise
// $XDG_CONFIG_HOME/tersify/developer.ini when XDG_CONFIG_HOME is an absolute
// path; otherwise $HOME/.config/tersify/developer.ini.

#include <string>
#include <utility>
#include <vector>

namespace tersify {

// The path described above; empty when neither variable gives one.
std::string DeveloperSettingsFileName();

// The key=value lines of one section of an INI file. Section and key names
// match in any letter case; blanks around names and values are dropped, and so
// are quotes enclosing a whole value; lines starting with ';' are comments; the
// first line of a key counts. A missing or unreadable file reads as empty.
class TIniSection {
 public:
  TIniSection(const std::string& file_name, const std::string& section);

  std::string ReadString(const std::string& key, const std::string& default_value) const;
  // Decimal, or hexadecimal after a leading 0x; anything else (also a number
  // out of the 32-bit range) reads as default_value.
  int ReadInteger(const std::string& key, int default_value) const;
  // An integer, non-zero meaning true.
  bool ReadBool(const std::string& key, bool default_value) const;

 private:
  const std::string* Find(const std::string& key) const;
  std::vector<std::pair<std::string, std::string>> values_;
};

}  // namespace tersify
