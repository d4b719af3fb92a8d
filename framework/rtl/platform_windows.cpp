// The platform services on Windows, through the Win32 calls they stand for.

#include "framework/rtl/windows_api.h"

#include <ctime>

#include "framework/rtl/platform.h"

namespace tersify {

static_assert(kFileAttributeReadOnly == FILE_ATTRIBUTE_READONLY && kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL &&
              kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES);

namespace {

// One character of the user's locale (LOCALE_SDECIMAL, LOCALE_STHOUSAND), '\0'
// when it is not a single ASCII character.
char LocaleCharacter(LCTYPE item) {
  char text[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, item, text, sizeof text) != 2) return '\0';
  return static_cast<unsigned char>(text[0]) < 0x80 ? text[0] : '\0';
}

}  // namespace

namespace platform_detail {
char UserDecimalSeparator() { return LocaleCharacter(LOCALE_SDECIMAL); }
char UserThousandSeparator() { return LocaleCharacter(LOCALE_STHOUSAND); }
}  // namespace platform_detail

int AnsiCompareText(const std::string& a, const std::string& b) {
  const int result = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                                    b.data(), static_cast<int>(b.size()));
  // CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER are 1, 2, 3; 0 is a failure,
  // which counts as unequal.
  return result == 0 ? (a < b ? -1 : 1) : result - CSTR_EQUAL;
}

uint32_t GetTickCount() { return ::GetTickCount(); }

int GetUserDefaultLCID() { return static_cast<int>(::GetUserDefaultLCID()); }

std::string TempDirectoryPath() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(MAX_PATH, buffer);
  // A longer path does not fit the buffer: the platform writes nothing then.
  if (length == 0 || length > MAX_PATH) return {};
  return std::string(buffer, length);
}

std::string CreateUniqueFile(const std::string& dir, const std::string& prefix) {
  if (dir.empty()) return {};
  char buffer[MAX_PATH + 1] = {};
  if (GetTempFileNameA(dir.c_str(), prefix.c_str(), 0, buffer) == 0) return {};
  return buffer;
}

uint32_t ReadFileAttributes(const std::string& name) { return GetFileAttributesA(name.c_str()); }

bool WriteFileAttributes(const std::string& name, uint32_t attributes) {
  return SetFileAttributesA(name.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes) != 0;
}

bool RemoveFile(const std::string& name) { return DeleteFileA(name.c_str()) != 0; }

bool FileExists(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSymbolicLink(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void ReleaseLibrary(void* handle) {
  if (handle) FreeLibrary(static_cast<HMODULE>(handle));
}

void ReturnLargeBlocksAtOnce() {}

std::tm LocalTimeOf(std::time_t moment) {
  std::tm local{};
  localtime_s(&local, &moment);
  return local;
}

}  // namespace tersify
