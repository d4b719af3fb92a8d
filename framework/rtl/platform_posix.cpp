// The platform services on Linux (and other POSIX systems).

#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale>

#include "framework/rtl/platform.h"

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

// The user's numeric conventions (LC_ALL / LC_NUMERIC / LANG), read at each
// use so that a changed environment applies; item is RADIXCHAR or THOUSEP.
char NumericSeparator(nl_item item) {
  locale_t locale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return '\0';
  const char* text = nl_langinfo_l(item, locale);
  char result = (text && *text && static_cast<unsigned char>(*text) < 0x80) ? *text : '\0';
  freelocale(locale);
  return result;
}

}  // namespace

namespace platform_detail {
char UserDecimalSeparator() { return NumericSeparator(RADIXCHAR); }
char UserThousandSeparator() { return NumericSeparator(THOUSEP); }
}  // namespace platform_detail

int AnsiCompareText(const std::string& a, const std::string& b) {
  const std::locale& locale = UserLocale();
  const auto& ctype = std::use_facet<std::ctype<char>>(locale);
  std::string ua = a, ub = b;
  ctype.toupper(ua.data(), ua.data() + ua.size());
  ctype.toupper(ub.data(), ub.data() + ub.size());
  const auto& collate = std::use_facet<std::collate<char>>(locale);
  return collate.compare(ua.data(), ua.data() + ua.size(), ub.data(), ub.data() + ub.size());
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

bool IsSymbolicLink(const std::string& name) {
  struct stat st {};
  return lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

void ReleaseLibrary(void* handle) {
  if (handle) dlclose(handle);
}

void ReturnLargeBlocksAtOnce() {
  // A fixed mmap threshold also fixes the trim threshold, at glibc's 128 KiB:
  // the heap would then shrink after every request of many medium values (a
  // group of updates, the driver's copy of its parameters) and fault its
  // pages in again for the next one. Twice the mmap threshold is what glibc's
  // own sliding rule would have chosen.
  constexpr int kMmapThreshold = 4 << 20;
  static const bool tuned = [] {
    return mallopt(M_MMAP_THRESHOLD, kMmapThreshold) == 1 && mallopt(M_TRIM_THRESHOLD, 2 * kMmapThreshold) == 1;
  }();
  (void)tuned;
}

std::tm LocalTimeOf(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  return local;
}

}  // namespace tersify
