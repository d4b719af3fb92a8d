// tds-test-server --port N --database-file FILE --database NAME --user U --password P
//                 [--encrypt off|on|required] [--tls-cert FILE --tls-key FILE]
//
// Serves the SQLite file FILE as database NAME over TDS on 127.0.0.1:N until
// it receives SIGINT or SIGTERM, logging one line per request to standard error.
// With encryption on or required and no certificate given, a self-signed one
// for localhost and 127.0.0.1 is made at start-up and printed.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "tests/support/tds_server/tds_test_server.h"

namespace {

int Usage() {
  std::cerr << "usage: tds-test-server --port N --database-file FILE --database NAME "
               "--user U --password P [--encrypt off|on|required] [--tls-cert FILE --tls-key FILE]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options;
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc || std::strncmp(argv[i], "--", 2) != 0) return Usage();
    options[argv[i] + 2] = argv[i + 1];
  }
  for (const char* name : {"port", "database-file", "database", "user", "password"})
    if (!options.count(name)) return Usage();
  if (options.count("tls-cert") != options.count("tls-key")) return Usage();
  int port;
  tersify::testing::TdsTestServer::TlsOptions tls;
  try {
    port = std::stoi(options["port"]);
    if (options.count("encrypt")) tls.encryption = tersify::testing::tds::ParseEncryption(options["encrypt"]);
  } catch (const std::exception&) {
    return Usage();
  }
  tls.certificate_file = options["tls-cert"];
  tls.key_file = options["tls-key"];

  // The signals are waited for here, so no other thread may take them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  try {
    tersify::testing::TdsTestServer server(
        options["database-file"], options["database"], options["user"], options["password"],
        port, [](const std::string& line) { std::cerr << line << std::endl; }, tls);
    std::cerr << "listening on 127.0.0.1:" << server.Port() << std::endl;
    if (tls.encryption != tersify::testing::tds::Encryption::Off && tls.certificate_file.empty())
      std::cerr << "certificate (self-signed, made at start-up):\n" << server.CertificatePem() << std::flush;
    int signal_number;
    sigwait(&stop, &signal_number);
    std::cerr << "stopping" << std::endl;
  } catch (const std::exception& error) {
    std::cerr << "tds-test-server: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
