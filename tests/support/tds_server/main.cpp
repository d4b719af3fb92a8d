// tds-test-server --port N --database-file FILE --database NAME --user U --password P
//                 [--encrypt off|on|required] [--tls-cert FILE --tls-key FILE]
//                 [--stats-file STATS] [--collation NAME] [--product-version V]
//                 [--log-space-file PATH]
//                 [--user-options N]
//
// Serves the SQLite file FILE as database NAME over TDS on 127.0.0.1:N until
// it receives SIGINT or SIGTERM, logging one line per request to standard error.
// With encryption on or required and no certificate given, a self-signed one
// for localhost and 127.0.0.1 is made at start-up and printed.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "tests/support/tds_server/tds_test_server.h"

namespace {

const char kUsage[] =
    "usage: tds-test-server --port N --database-file FILE --database NAME "
    "--user U --password P [--encrypt off|on|required] [--tls-cert FILE --tls-key FILE]\n"
    "       [--stats-file STATS] [--collation NAME] [--product-version V] [--log-space-file PATH]\n";

const char kHelp[] =
    "\n"
    "Serves the SQLite file FILE as the database NAME over TDS 7.4 on 127.0.0.1:N\n"
    "(N = 0: a free port, announced as \"listening on 127.0.0.1:<port>\" on standard\n"
    "error) until SIGINT or SIGTERM; one line per request goes to standard error.\n"
    "\n"
    "  --encrypt MODE      off (the default): no encryption offered; on: offered,\n"
    "                      the client chooses; required: refused without TLS\n"
    "  --tls-cert FILE     the server's certificate (PEM); with --tls-key FILE its key.\n"
    "                      Without them a self-signed one for localhost is made and\n"
    "                      printed at start-up\n"
    "  --stats-file STATS  write the count of client requests to STATS on SIGUSR1\n"
    "                      and on exit, one \"name value\" line each:\n"
    "                        requests N             all of the three below\n"
    "                        sql_batch N\n"
    "                        rpc N                  parameterised statements, procedures\n"
    "                        transaction_manager N  begin, commit, rollback\n"
    "                        attention N            cancels (not requests)\n"
    "                      The file is replaced whole (written aside, then renamed).\n"
    "  --collation NAME    the database's collation, given to the string columns of\n"
    "                      the tables it serves: SQL_Latin1_General_CP1_CI_AS (the\n"
    "                      default), SQL_Latin1_General_CP1_CS_AS, Latin1_General_CI_AS,\n"
    "                      Latin1_General_CS_AS or Latin1_General_BIN2\n"
    "  --product-version V the SQL Server version claimed at login, in @@VERSION and\n"
    "                      SERVERPROPERTY('ProductVersion'): four numbers such as\n"
    "                      11.0.2100.60 (default 16.0.1000.6)\n"
    "  --log-space-file PATH  the number in PATH (read again at every query) is the\n"
    "                      percentage of the transaction log in use that\n"
    "                      sys.dm_db_log_space_usage reports, of a 2 GB log;\n"
    "                      without the flag 0\n"
    "  --user-options N    the server's 'user options': 512 starts every session\n"
    "                      with NOCOUNT on (default 0)\n"
    "\n"
    "SIGSTOP freezes the server (sockets stay open, nothing is answered);\n"
    "SIGCONT thaws it.\n";

int Usage() {
  std::cerr << kUsage;
  return 2;
}

bool WriteStats(const std::string& path, const tersify::testing::tds::RequestCounts& counts) {
  const std::string aside = path + ".tmp";
  {
    std::ofstream out(aside, std::ios::trunc);
    out << "requests " << counts.Total() << "\n"
        << "sql_batch " << counts.sql_batch << "\n"
        << "rpc " << counts.rpc << "\n"
        << "transaction_manager " << counts.transaction_manager << "\n"
        << "attention " << counts.attention << "\n";
    if (!out.flush()) return false;
  }
  return std::rename(aside.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << kUsage << kHelp;
    return 0;
  }
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
  tersify::testing::TdsTestServer::Rules rules;
  try {
    port = std::stoi(options["port"]);
    if (options.count("user-options")) rules.user_options = std::stoi(options["user-options"]);
    if (options.count("encrypt")) tls.encryption = tersify::testing::tds::ParseEncryption(options["encrypt"]);
  } catch (const std::exception&) {
    return Usage();
  }
  tls.certificate_file = options["tls-cert"];
  tls.key_file = options["tls-key"];
  const std::string stats_file = options.count("stats-file") ? options["stats-file"] : "";
  if (options.count("collation")) rules.collation = options["collation"];
  if (options.count("product-version")) rules.product_version = options["product-version"];
  if (options.count("log-space-file")) rules.log_space_file = options["log-space-file"];

  // The signals are waited for here, so no other thread may take them.
  sigset_t wanted;
  sigemptyset(&wanted);
  sigaddset(&wanted, SIGINT);
  sigaddset(&wanted, SIGTERM);
  sigaddset(&wanted, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &wanted, nullptr);

  try {
    tersify::testing::TdsTestServer server(
        options["database-file"], options["database"], options["user"], options["password"],
        port, [](const std::string& line) { std::cerr << line << std::endl; }, tls, rules);
    std::cerr << "listening on 127.0.0.1:" << server.Port() << std::endl;
    if (tls.encryption != tersify::testing::tds::Encryption::Off && tls.certificate_file.empty())
      std::cerr << "certificate (self-signed, made at start-up):\n" << server.CertificatePem() << std::flush;
    auto write_stats = [&] {
      if (!stats_file.empty() && !WriteStats(stats_file, server.Requests()))
        std::cerr << "tds-test-server: cannot write " << stats_file << std::endl;
    };
    int signal_number = 0;
    while (sigwait(&wanted, &signal_number) == 0 && signal_number == SIGUSR1) write_stats();
    std::cerr << "stopping" << std::endl;
    write_stats();
  } catch (const std::exception& error) {
    std::cerr << "tds-test-server: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
