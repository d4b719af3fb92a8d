#pragma once
// String and file utilities: delimited-field extraction, the temporary-files
// directory, unique scratch files, forced deletion, a directory-writability test,
// and the process-wide list of loaded libraries.

#include <string>

#include "framework/rtl/object.h"
#include "framework/rtl/strings.h"

namespace tersify {

// String handling; no instance data, every operation is a class operation.
class TcString : public TObject {
 public:
  // Field number Index (1-based) of S, fields separated by Delimiter. With a
  // QuoteChar other than -1, each such character toggles an inside-quotes state
  // in which delimiters are text; quote characters stay in the result. Fewer
  // than Index - 1 delimiters give ""; an Index of 0 or less gives S whole.
  static std::string GetToken(const std::string& S, int Index, char Delimiter, int QuoteChar);
};

// File-system operations; no instance data, none raises an error of its own.
class TcShell : public TObject {
 public:
  // The temporary-files directory, with a trailing '/'.
  static std::string GetTempDir();
  // Creates a new, empty, uniquely named file in Dir (the temporary-files
  // directory when Dir is empty) whose name begins with the first three
  // characters of Prefix; returns its full name, or "" when none could be made.
  static std::string CreateTempFileName(const std::string& Prefix, const std::string& Dir);
  // True when no file of that name exists afterwards. A read-only file is made
  // writable first; when the deletion fails its attributes are put back.
  static bool DeleteFileForced(const std::string& FileName);
  // True when Dir is a directory in which a scratch file could be created (the
  // file is removed again).
  static bool IsDirectoryWritable(const std::string& Dir);
};

// The process-wide list of loaded libraries: each line names a library and
// carries its dlopen handle as the line's object (null: not loaded). Exists
// between StartCommonUnit() and ShutdownCommonUnit(); null outside.
TStringList* LoadedLibraries();

// A library handle as a line's object and back (the object is never used as one).
inline TObject* LibraryHandleObject(void* handle) { return static_cast<TObject*>(handle); }
inline void* LibraryHandle(TObject* object) { return static_cast<void*>(object); }

// Unit start-up: creates LoadedLibraries, empty. Called by the program's main
// before anything else of this unit is used.
void StartCommonUnit();
// Unit shutdown: releases (dlclose) every library whose handle is not null,
// setting the handle to null, then frees the list. Safe to call twice.
void ShutdownCommonUnit();

}  // namespace tersify
