#include "common/vr_common.h"

#include <memory>

#include "framework/rtl/platform.h"

namespace tersify {
namespace {

std::unique_ptr<TStringList>& LibraryList() {
  static std::unique_ptr<TStringList> list;
  return list;
}

}  // namespace

std::string TcString::GetToken(const std::string& S, int Index, char Delimiter, int QuoteChar) {
  // Positions are 1-based: 0 stands for "before the start", Length + 1 for "after the end".
  const size_t length = S.size();
  size_t open = 0, close = length + 1;
  bool openFound = false, inQuotes = false;
  int counter = 1;
  for (size_t pos = 1; pos <= length; ++pos) {
    const char c = S[pos - 1];
    if (QuoteChar != -1 && static_cast<unsigned char>(c) == QuoteChar) {
      inQuotes = !inQuotes;  // a quote character never separates
      continue;
    }
    if (c != Delimiter || inQuotes) continue;
    ++counter;
    if (counter == Index) {
      open = pos;
      openFound = true;
    } else if (counter == Index + 1) {
      close = pos;
      break;
    }
  }
  if (Index > 1 && !openFound) return {};
  return S.substr(open, close - open - 1);
}

std::string TcShell::GetTempDir() { return TempDirectoryPath(); }

std::string TcShell::CreateTempFileName(const std::string& Prefix, const std::string& Dir) {
  return CreateUniqueFile(Dir.empty() ? GetTempDir() : Dir, Prefix);
}

bool TcShell::DeleteFileForced(const std::string& FileName) {
  // A symbolic link is deleted as itself: its target's permissions are never
  // changed, and a dangling link goes too.
  if (IsSymbolicLink(FileName)) return RemoveFile(FileName);
  const uint32_t attributes = ReadFileAttributes(FileName);
  if (attributes == kInvalidFileAttributes) return true;
  WriteFileAttributes(FileName, 0);  // read-only, hidden or system files can go too
  if (!RemoveFile(FileName)) {
    WriteFileAttributes(FileName, attributes);
    return false;
  }
  return true;
}

bool TcShell::IsDirectoryWritable(const std::string& Dir) {
  if (!DirectoryExists(Dir)) return false;
  const std::string scratch = CreateTempFileName("vrk", Dir);
  if (scratch.empty()) return false;
  DeleteFileForced(scratch);
  return true;
}

TStringList* LoadedLibraries() { return LibraryList().get(); }

void StartCommonUnit() { LibraryList() = std::make_unique<TStringList>(); }

void ShutdownCommonUnit() {
  std::unique_ptr<TStringList>& list = LibraryList();
  if (!list) return;
  for (int i = 0; i < list->Count(); ++i) {
    if (void* handle = LibraryHandle(list->Objects(i))) {
      ReleaseLibrary(handle);
      list->SetObjects(i, nullptr);
    }
  }
  list.reset();
}

}  // namespace tersify
