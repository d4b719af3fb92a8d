#pragma once
// The platform services the system uses; platform.cpp holds what every
// platform shares, platform_posix.cpp and platform_windows.cpp the rest. Where a service stands for a Windows
// call (GetTempPathA, GetTempFileNameA, GetFileAttributesA, ...) it is named
// apart from it: windows.h turns those names into macros.

#include <cstdint>
#include <ctime>
#include <string>

namespace tersify {

// Locale-aware comparison of 8-bit text with case ignored, in the user's locale
// (LC_COLLATE/LC_CTYPE from the environment): <0, 0, >0.
int AnsiCompareText(const std::string& a, const std::string& b);
inline bool SameText(const std::string& a, const std::string& b) { return AnsiCompareText(a, b) == 0; }

// ASCII case rules: only a-z / A-Z change.
std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
// Removes leading and trailing blanks and control characters (bytes <= ' ').
std::string Trim(const std::string& s);

// The user's locale's decimal and thousands separators (LC_NUMERIC).
char DecimalSeparator();
char ThousandSeparator();
// Test seam: a non-zero character stands in for the locale's separator until
// it is set back to '\0' (tests of other conventions need no installed locale).
void SetNumericSeparatorsOverride(char decimal, char thousand);

// Milliseconds since an arbitrary start, wrapping at 2^32 like the platform's tick count.
uint32_t GetTickCount();

// The Windows locale id of the user's locale (LANG/LC_ALL), 1033 (en-US) when unknown.
int GetUserDefaultLCID();

// The temporary-files directory ($TMPDIR or /tmp), with a trailing '/'.
std::string TempDirectoryPath();
// Creates a new, empty, uniquely named file in dir whose name starts with the
// first three characters of prefix; returns its full name, or "" on failure.
std::string CreateUniqueFile(const std::string& dir, const std::string& prefix);

// File attributes. On Linux the read-only attribute is a file without any write
// permission; "normal" gives the owner read and write permission.
inline constexpr uint32_t kFileAttributeReadOnly = 0x1;
inline constexpr uint32_t kFileAttributeNormal = 0x80;
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
// The file's attributes: its permission bits shifted past the attribute flags,
// with kFileAttributeReadOnly when nobody may write it; kInvalidFileAttributes when missing.
uint32_t ReadFileAttributes(const std::string& name);
// Restores attributes read with ReadFileAttributes; 0 makes the file normal.
bool WriteFileAttributes(const std::string& name, uint32_t attributes);
bool RemoveFile(const std::string& name);
bool FileExists(const std::string& name);
bool DirectoryExists(const std::string& name);
// True for a symbolic link (on Windows any reparse point), whatever it points at.
bool IsSymbolicLink(const std::string& name);

// Releases a module loaded at run time (dlclose, FreeLibrary).
void ReleaseLibrary(void* handle);

// Makes the allocator give a large block back to the system as soon as it is
// freed, instead of keeping it for the next one (glibc: a fixed mmap
// threshold; the Windows heap does so by itself for blocks past 512 KiB).
// Smaller blocks freed at the top of the heap are kept up to twice that
// threshold, for the next request to reuse.
void ReturnLargeBlocksAtOnce();

// The local calendar time of a moment, safe on any thread.
std::tm LocalTimeOf(std::time_t moment);

namespace platform_detail {
// The user's locale's separator, '\0' when it has none that is one ASCII character.
char UserDecimalSeparator();
char UserThousandSeparator();
}  // namespace platform_detail

}  // namespace tersify
