#include "framework/rtl/platform.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale>

namespace tersify {
namespace {

// The user's locale, taken from the environment once.
const std::locale& UserLocale() {
  static const std::locale locale = [] {
    try {
      return std::locale("");
    } catch (const std::exception&) {
      return std::locale::classic();
    }
  }();
  return locale;
}

std::atomic<char> decimal_override{'\0'};
std::atomic<char> thousand_override{'\0'};

// The user's numeric conventions (LC_ALL / LC_NUMERIC / LANG), read at each
// use so that a changed environment applies; item is RADIXCHAR or THOUSEP.
char NumericSeparator(nl_item item, char fallback) {
  locale_t locale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return fallback;
  const char* text = nl_langinfo_l(item, locale);
  char result = (text && *text && static_cast<unsigned char>(*text) < 0x80) ? *text : fallback;
  freelocale(locale);
  return result;
}

}  // namespace

int AnsiCompareText(const std::string& a, const std::string& b) {
  const std::locale& locale = UserLocale();
  const auto& ctype = std::use_facet<std::ctype<char>>(locale);
  std::string ua = a, ub = b;
  ctype.toupper(ua.data(), ua.data() + ua.size());
  ctype.toupper(ub.data(), ub.data() + ub.size());
  const auto& collate = std::use_facet<std::collate<char>>(locale);
  return collate.compare(ua.data(), ua.data() + ua.size(), ub.data(), ub.data() + ub.size());
}

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

char DecimalSeparator() {
  const char forced = decimal_override.load();
  return forced ? forced : NumericSeparator(RADIXCHAR, '.');
}

char ThousandSeparator() {
  const char forced = thousand_override.load();
  if (forced) return forced;
  // A locale without a plain one (C, or a non-ASCII space as in fr_FR) gets the
  // usual one that differs from its decimal separator.
  return NumericSeparator(THOUSEP, DecimalSeparator() == ',' ? '.' : ',');
}

void SetNumericSeparatorsOverride(char decimal, char thousand) {
  decimal_override.store(decimal);
  thousand_override.store(thousand);
}

uint32_t GetTickCount() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

int GetUserDefaultLCID() {
  struct Entry {
    const char* prefix;
    int lcid;
  };
  static const Entry table[] = {
      {"en_US", 1033}, {"en_GB", 2057}, {"de_DE", 1031}, {"de_AT", 3079}, {"de_CH", 2055},
      {"fr_FR", 1036}, {"it_IT", 1040}, {"es_ES", 3082}, {"cs_CZ", 1029}, {"sk_SK", 1051},
      {"pl_PL", 1045}, {"hu_HU", 1038}, {"sl_SI", 1060}, {"hr_HR", 1050}, {"nl_NL", 1043},
      {"ru_RU", 1049}, {"pt_BR", 1046}, {"pt_PT", 2070}, {"sv_SE", 1053}, {"ja_JP", 1041},
  };
  const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  for (const char* var : names) {
    const char* value = std::getenv(var);
    if (!value || !*value) continue;
    for (const Entry& e : table)
      if (std::strncmp(value, e.prefix, std::strlen(e.prefix)) == 0) return e.lcid;
    break;
  }
  return 1033;
}

std::string TempDirectoryPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir && *dir) ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

std::string CreateUniqueFile(const std::string& dir, const std::string& prefix) {
  if (dir.empty()) return {};
  std::string path = dir;
  if (path.back() != '/') path += '/';
  path += prefix.substr(0, 3) + "XXXXXX.tmp";
  int fd = mkstemps(path.data(), 4);
  if (fd < 0) return {};
  close(fd);
  return path;
}

uint32_t ReadFileAttributes(const std::string& name) {
  struct stat st {};
  if (stat(name.c_str(), &st) != 0) return kInvalidFileAttributes;
  uint32_t attributes = (st.st_mode & 07777) << 8;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= kFileAttributeReadOnly;
  return attributes == 0 ? kFileAttributeNormal : attributes;
}

bool WriteFileAttributes(const std::string& name, uint32_t attributes) {
  mode_t mode = (attributes >> 8) & 07777;
  if (attributes == 0 || attributes == kFileAttributeNormal) mode = S_IRUSR | S_IWUSR;
  return chmod(name.c_str(), mode) == 0;
}

bool RemoveFile(const std::string& name) { return unlink(name.c_str()) == 0; }

bool FileExists(const std::string& name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace tersify
