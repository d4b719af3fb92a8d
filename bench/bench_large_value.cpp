// One large blob written and read back through a provider, with the process's
// peak resident memory after each step: how many copies of the value the
// client side holds. For "odbc" the TDS test server runs in a child process,
// so only the client's memory is counted.
//
//   bench_large_value [--provider sqlite|odbc] [--size-mb N]
//
// TERSIFY_ODBC_AT_EXECUTION=1 makes the odbc provider hand the value over in
// pieces at execution, =0 bind it whole (the driver's traits choose otherwise),
// to compare the two. Exits with 1 when
// the value read back differs from the one written, 2 on any other failure.

#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/temp_dir.h"
#include "client/providers/provider.h"
#include "tests/support/tds_server/tds_test_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

std::string MakeBytes(size_t size) {
  std::string out(size, '\0');
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    out[i] = static_cast<char>(x);
  }
  return out;
}

uint64_t Fnv1a(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

void CreateTable(const std::string& file) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open(file.c_str(), &db);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(db, sqlite3_close);
  if (rc != SQLITE_OK ||
      sqlite3_exec(db, "create table t(id integer primary key, v blob)", nullptr, nullptr, nullptr) !=
          SQLITE_OK)
    throw std::runtime_error("cannot create the benchmark database");
}

// The TDS test server in a child process; stopped when this goes.
class ServerProcess {
 public:
  explicit ServerProcess(const std::string& file) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      close(fds[0]);
      try {
        tersify::testing::TdsTestServer server(file, "bench", "bench", "Bench1");
        const int port = server.Port();
        (void)!write(fds[1], &port, sizeof port);
        for (;;) pause();  // until SIGTERM
      } catch (...) {
        _exit(2);
      }
    }
    close(fds[1]);
    if (read(fds[0], &port_, sizeof port_) != static_cast<ssize_t>(sizeof port_))
      throw std::runtime_error("the TDS test server did not start");
    close(fds[0]);
  }
  ~ServerProcess() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::string provider_name = "odbc";
  size_t size_mb = 64;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--provider") == 0) provider_name = argv[i + 1];
    else if (std::strcmp(argv[i], "--size-mb") == 0) size_mb = std::stoul(argv[i + 1]);
  }
  try {
    tersify::bench::TempDir dir;
    const std::string file = dir.Path() + "/large.db";
    CreateTable(file);
    std::unique_ptr<ServerProcess> server;
    tersify::providers::ConnectionSettings settings;
    if (provider_name == "odbc") {
      server = std::make_unique<ServerProcess>(file);  // forked before any thread starts here
      settings.server = "127.0.0.1";
      settings.port = server->Port();
      settings.database = "bench";
      settings.username = "bench";
      settings.password = "Bench1";
    } else {
      settings.server = "sqlite";
      settings.database = file;
    }
    auto provider = tersify::providers::CreateProvider(settings);
    provider->Open(settings);
    const double connected = PeakMiB();

    std::vector<tersify::Variant> params;
    params.emplace_back(1);
    params.emplace_back(tersify::TBytes{MakeBytes(size_mb << 20)});
    const uint64_t hash = Fnv1a(params[1].RawString());
    const double with_value = PeakMiB();
    Clock::time_point start = Clock::now();
    provider->Execute("insert into t(id, v) values(?, ?)", params);
    const double write_s = std::chrono::duration<double>(Clock::now() - start).count();
    const double after_write = PeakMiB();
    params.clear();

    start = Clock::now();
    auto cursor = provider->Execute("select v from t where id = 1", {});
    if (!cursor->Next()) throw std::runtime_error("the row is gone");
    tersify::Variant read = cursor->TakeValue(0);
    const double read_s = std::chrono::duration<double>(Clock::now() - start).count();
    const double after_read = PeakMiB();
    const bool same = read.RawString().size() == (size_mb << 20) && Fnv1a(read.RawString()) == hash;

    const char* at_exec = std::getenv("TERSIFY_ODBC_AT_EXECUTION");
    std::printf("%s, %zu MB value%s\n", provider_name.c_str(), size_mb,
                provider_name != "odbc" ? ""
                : at_exec && std::strcmp(at_exec, "1") == 0 ? ", handed over at execution"
                : at_exec && std::strcmp(at_exec, "0") == 0 ? ", bound whole"
                                                            : ", as the driver's traits say");
    std::printf("  peak after connect %.0f MB, with the value %.0f MB\n", connected, with_value);
    std::printf("  write %.2f s, peak %.0f MB (%.1f values above connect)\n", write_s, after_write,
                (after_write - connected) / static_cast<double>(size_mb));
    std::printf("  read  %.2f s, peak %.0f MB (%.1f values above connect)\n", read_s, after_read,
                (after_read - connected) / static_cast<double>(size_mb));
    if (!same) {
      std::printf("  the value read back differs\n");
      return 1;
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_large_value: %s\n", e.what());
    return 2;
  }
}
