// Preloaded into the real program by a binary test (LD_PRELOAD): opening a
// SQLite file throws an exception of no class the program knows, so that the
// program's last-resort handler is reached the way any foreign exception
// would reach it.

struct sqlite3;

extern "C" int sqlite3_open_v2(const char* /*filename*/, sqlite3** /*db*/, int /*flags*/, const char* /*vfs*/) {
  throw 42;
}
