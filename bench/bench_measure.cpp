// Runs a command and writes down what it took, so that the benchmark scripts
// measure with the build's own program: wall seconds (steady clock, from just
// before the start to the end), user and system CPU seconds and peak resident
// memory, from the resource usage wait4 reports for the command (with the
// children it waited for).
//
//   bench_measure REPORT COMMAND [ARGUMENT...]
//
// Writes REPORT as the lines "wall S", "user S", "system S", "peak_kib K".
// Standard input, output and error are the command's. Exits with the
// command's exit code, 128 + the signal that ended it, or 127 when it cannot
// be started.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_measure REPORT COMMAND [ARGUMENT...]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (const int error = posix_spawnp(&child, argv[2], nullptr, nullptr, argv + 2, environ); error != 0) {
    std::fprintf(stderr, "bench_measure: cannot start %s: %s\n", argv[2], std::strerror(error));
    return 127;
  }
  int status = 0;
  rusage usage{};
  pid_t ended;
  while ((ended = wait4(child, &status, 0, &usage)) < 0 && errno == EINTR) {
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (ended != child) {
    std::fprintf(stderr, "bench_measure: wait4: %s\n", std::strerror(errno));
    return 2;
  }
  std::FILE* report = std::fopen(argv[1], "w");
  if (!report) {
    std::fprintf(stderr, "bench_measure: cannot write %s: %s\n", argv[1], std::strerror(errno));
    return 2;
  }
  std::fprintf(report, "wall %.3f\nuser %.3f\nsystem %.3f\npeak_kib %ld\n", wall, Seconds(usage.ru_utime),
               Seconds(usage.ru_stime), usage.ru_maxrss);
  if (std::fclose(report) != 0) {
    std::fprintf(stderr, "bench_measure: cannot write %s\n", argv[1]);
    return 2;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}
