// /verify and /estimate as users meet them: the real tersify program run as a
// child process against every provider, what it prints, its exit code, and
// that it leaves the database as it found it; and the estimate held against a
// real compress pass over the same data.

#include <zlib.h>

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/db/layer_fixture.h"
#include "tests/support/provider_matrix.h"
#include "tests/tool/program_runner.h"
#include "tool/console/console_checks.h"
#include "tool/pass/estimate.h"

namespace tersify::testing {
namespace {

// ---- Values ---------------------------------------------------------------

// An envelope built by hand: header fields as given, payload as given.
std::string Envelope(char letter, int32_t header_length, const std::string& payload) {
  std::string header = "PKZ#900";
  header += letter;
  const auto length = static_cast<uint32_t>(header_length);
  for (int i = 0; i < 4; ++i) header += static_cast<char>((length >> (8 * i)) & 0xFF);
  header += std::string(4, '\0');
  return header + payload;
}

std::string ZlibStream(const std::string& plain, int level = 6) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                static_cast<uLong>(plain.size()), level) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(size);
  return out;
}

std::string SoundEnvelope(const std::string& plain) {
  return Envelope('Z', static_cast<int32_t>(plain.size()), ZlibStream(plain));
}

// Report-like text of n bytes that compresses about five to one; seed varies it.
std::string ReportText(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < n)
    text += "<TfrxMemoView Name=\"Memo" + std::to_string(random() % 500) + "\" Left=\"" +
            std::to_string(random() % 800) + "\" Top=\"" + std::to_string(random() % 1100) +
            "\" Text=\"[Sum]\"/>\r\n";
  text.resize(n);
  return text;
}

std::string Key(int i) { return "R" + std::to_string(100 + i); }

// ---- The fixture ----------------------------------------------------------

const char kCreateTable[] =
    "create table tqz_reports (acReport varchar(20) primary key, acTitle text, acReportData blob)";

void Insert(const TestDatabase& db, const std::string& key, const std::string& value) {
  db.ExecDirect("insert into tqz_reports values ('" + key + "', 'Title', " + HexLiteral(value) + ")");
}

void InsertNull(const TestDatabase& db, const std::string& key) {
  db.ExecDirect("insert into tqz_reports values ('" + key + "', 'Title', null)");
}

class ReadOnlyCommands : public ::testing::TestWithParam<std::string> {
 protected:
  static std::unique_ptr<TestDatabase> MakeDatabase() {
    auto db = std::make_unique<TestDatabase>(GetParam());
    db->ExecDirect(kCreateTable);
    return db;
  }
  void SetUp() override { db_ = MakeDatabase(); }

  // The program on tqz_reports.acReportData; args come last and win.
  RunResult Run(const TestDatabase& db, const std::vector<std::string>& args) const {
    const std::vector<std::string> target = {"/GUI=0", "/TABLE=tqz_reports", "/FIELD=acReportData",
                                             "/KEY=acReport"};
    return RunTersify(target + ConnectionArgs(db) + args);
  }
  std::map<std::string, std::string> Stored(const TestDatabase& db) const {
    return AllValues(db.FilePath(), "select acReport, acReportData from tqz_reports");
  }

  std::unique_ptr<TestDatabase> db_;
};

// ---- /verify --------------------------------------------------------------

TEST_P(ReadOnlyCommands, VerifyCountsEveryFormOfACleanTableAndExitsWithZero) {
  for (int i = 0; i < 6; ++i) Insert(*db_, Key(i), ReportText(400 + 700 * i, i));       // plain
  for (int i = 6; i < 10; ++i) Insert(*db_, Key(i), SoundEnvelope(ReportText(3000, i)));  // compressed
  Insert(*db_, Key(10), "short");
  // An envelope header on a value too short to be one is plain bytes.
  Insert(*db_, Key(11), std::string("PKZ#900Z", 8));
  InsertNull(*db_, Key(12));
  const std::string file_before = ReadWhole(db_->FilePath());

  const RunResult r = Run(*db_, {"/verify"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, "Verified 13 records: 4 compressed, 9 plain, 0 damaged\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadWhole(db_->FilePath()), file_before);

  // What a compress pass stores is sound.
  ASSERT_EQ(Run(*db_, {"/c"}).exit_code, 0);
  const RunResult after = Run(*db_, {"-VERIFY"});
  EXPECT_EQ(after.exit_code, 0);
  EXPECT_EQ(after.out, "Verified 13 records: 10 compressed, 3 plain, 0 damaged\n");
}

TEST_P(ReadOnlyCommands, VerifyAnEmptyTable) {
  const RunResult r = Run(*db_, {"verify"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "Verified 0 records: 0 compressed, 0 plain, 0 damaged\n");
}

TEST_P(ReadOnlyCommands, TheProgressLineGoesToATerminalAndStandardOutputKeepsItsLines) {
  if (!PseudoTerminalAvailable()) GTEST_SKIP() << "no pseudo-terminal";
  for (int i = 0; i < 7; ++i) Insert(*db_, Key(i), ReportText(2000, i));
  const std::vector<std::string> target = {"/GUI=0", "/TABLE=tqz_reports", "/FIELD=acReportData"};
  const RunResult verify = RunTersify(target + ConnectionArgs(*db_) + std::vector<std::string>{"/verify"},
                                      Terminal::Stderr);
  EXPECT_EQ(verify.exit_code, 0);
  EXPECT_EQ(verify.out, "Verified 7 records: 0 compressed, 7 plain, 0 damaged\n");
  EXPECT_NE(verify.err.find("7 of 7 rows (100 %), "), std::string::npos) << verify.err;
  const RunResult estimate = RunTersify(target + ConnectionArgs(*db_) + std::vector<std::string>{"/estimate"},
                                        Terminal::Stderr);
  EXPECT_EQ(estimate.exit_code, 0);
  EXPECT_EQ(estimate.out.rfind("Estimate: 7 records, ", 0), 0u) << estimate.out;
  EXPECT_NE(estimate.err.find("7 of 7 rows (100 %), "), std::string::npos) << estimate.err;

  // Both on one terminal: a damaged value's line starts a line of its own.
  Insert(*db_, Key(7), Envelope('P', 5000, "payload"));
  const RunResult both = RunTersify(target + ConnectionArgs(*db_) + std::vector<std::string>{"/verify"},
                                    Terminal::Both);
  EXPECT_EQ(both.exit_code, 1);
  const size_t damaged = both.out.find("Damaged value, key R107: ");
  ASSERT_NE(damaged, std::string::npos) << both.out;
  const std::string before = both.out.substr(0, damaged);
  EXPECT_TRUE(before.empty() || before.back() == '\n' || before.ends_with("\r\x1b[K")) << both.out;
}

struct Damage {
  const char* title;
  std::string stored;
  const char* reason;  // a part of the reason given
};

std::vector<Damage> EveryDamage() {
  const std::string plain = ReportText(5000, 7);
  const std::string payload = ZlibStream(plain);
  const auto length = static_cast<int32_t>(plain.size());
  std::string corrupted = payload;
  corrupted[corrupted.size() / 2] ^= 0x55;
  corrupted[corrupted.size() / 2 + 1] ^= 0x3C;
  std::string bad_checksum = payload;
  bad_checksum.back() ^= 0x01;
  return {
      {"Bzip", Envelope('B', length, payload), "the algorithm B (BZIP) is not one this tool reads"},
      {"Ppm", Envelope('P', length, payload), "the algorithm P (PPM) is not one this tool reads"},
      {"Lzma", Envelope('M', length, payload), "the algorithm M (LZMA) is not one this tool reads"},
      {"NoPayload", Envelope('Z', length, ""), "the envelope has no payload"},
      {"CutShort", Envelope('Z', length, payload.substr(0, payload.size() / 2)), "the payload is cut short"},
      // Where a bit flip in deflate data shows depends on the bits; it always shows.
      {"Corrupted", Envelope('Z', length, corrupted), "the payload"},
      {"NotZlib", Envelope('Z', length, Incompressible(400, 3)), "the payload is not a valid zlib stream"},
      {"BadChecksum", Envelope('Z', length, bad_checksum), "the payload is not a valid zlib stream"},
      {"LongerHeader", Envelope('Z', length + 1, payload), "the header says 5001"},
      {"ShorterHeader", Envelope('Z', 10, payload), "the header says 10"},
      {"NegativeHeader", Envelope('Z', -1, payload), "the header says -1"},
      {"Trailing", Envelope('Z', length, payload + "tail"), "4 bytes follow the end of the zlib stream"},
      {"DecodesToNothing", Envelope('Z', 0, ZlibStream("")), "the payload decodes to no bytes"},
  };
}

TEST_P(ReadOnlyCommands, VerifyReportsEveryDamagedValueOnceAndExitsWithOne) {
  const std::vector<Damage> damages = EveryDamage();
  // Sound and plain values around every damaged one.
  int row = 0;
  std::map<std::string, const Damage*> damaged_keys;
  for (const Damage& d : damages) {
    Insert(*db_, Key(row), SoundEnvelope(ReportText(900, row)));
    damaged_keys[Key(row + 1)] = &d;
    Insert(*db_, Key(row + 1), d.stored);
    Insert(*db_, Key(row + 2), ReportText(300, row));
    row += 3;
  }
  const std::string file_before = ReadWhole(db_->FilePath());

  const RunResult r = Run(*db_, {"/Verify"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> lines;
  for (size_t start = 0; start < r.out.size();) {
    const size_t end = r.out.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "the output ends in a line break";
    lines.push_back(r.out.substr(start, end - start));
    start = end + 1;
  }
  ASSERT_EQ(lines.size(), damages.size() + 1) << r.out;
  // One line per damaged value, in key order, then the summary.
  auto expected = damaged_keys.begin();
  for (size_t i = 0; i < damages.size(); ++i, ++expected) {
    SCOPED_TRACE(expected->second->title);
    const std::string prefix = "Damaged value, key " + expected->first + ": ";
    EXPECT_EQ(lines[i].substr(0, prefix.size()), prefix) << lines[i];
    EXPECT_NE(lines[i].find(expected->second->reason), std::string::npos) << lines[i];
  }
  EXPECT_EQ(lines.back(), "Verified " + std::to_string(row) + " records: " + std::to_string(damages.size()) +
                              " compressed, " + std::to_string(damages.size()) + " plain, " +
                              std::to_string(damages.size()) + " damaged");
  EXPECT_EQ(ReadWhole(db_->FilePath()), file_before);
}

TEST_P(ReadOnlyCommands, VerifyRefusesWhatAPassRefusesAndChangesNothing) {
  Insert(*db_, Key(1), ReportText(500, 1));
  const std::string file_before = ReadWhole(db_->FilePath());
  const RunResult text = Run(*db_, {"/verify", "/FIELD=acTitle"});
  EXPECT_EQ(text.exit_code, 1);
  EXPECT_EQ(text.out, "Critical error occured:\nField acTitle from table tqz_reports can't be compressed\n");
  // Why, on standard error: the column's type.
  EXPECT_NE(text.err.find("The column acTitle has the type "), std::string::npos) << text.err;
  const RunResult unsafe = Run(*db_, {"/verify", "/KEY=acReport;--"});
  EXPECT_EQ(unsafe.exit_code, 1);
  EXPECT_EQ(unsafe.out, "Critical error occured:\nInvalid key field name: acReport;--\n");
  EXPECT_EQ(ReadWhole(db_->FilePath()), file_before);
}

// ---- /estimate ------------------------------------------------------------

// The same rows in any database: text of many sizes, values that do not
// shrink, short values, envelopes already, a NULL.
void FillForEstimate(const TestDatabase& db) {
  int row = 0;
  for (int i = 0; i < 30; ++i) Insert(db, Key(row++), ReportText(2000 + 4100 * i, i));
  for (int i = 0; i < 8; ++i) Insert(db, Key(row++), Incompressible(60000 + 9000 * i, i));
  for (int i = 0; i < 5; ++i) Insert(db, Key(row++), ReportText(60 + 10 * i, i));
  for (int i = 0; i < 4; ++i) Insert(db, Key(row++), SoundEnvelope(ReportText(20000, i)));
  InsertNull(db, Key(row++));
}

int64_t StoredBytes(const std::map<std::string, std::string>& values) {
  int64_t sum = 0;
  for (const auto& [key, stored] : values) sum += static_cast<int64_t>(stored.size());
  return sum;
}

struct EstimateLine {
  int64_t records = 0;
  double stored_mb = 0, after_mb = 0, saved_mb = 0, minutes = 0;
  int percent = 0;
};

bool ParseEstimate(const std::string& out, EstimateLine& line) {
  static const std::regex pattern(
      R"(Estimate: (\d+) records, (\d+\.\d\d) MB stored now, about (\d+\.\d\d) MB after compression )"
      R"(\(saves (-?\d+\.\d\d) MB, (-?\d+) %\), about (\d+\.\d) minutes for the pass\n)");
  std::smatch m;
  if (!std::regex_match(out, m, pattern)) return false;
  line.records = std::stoll(m[1]);
  line.stored_mb = std::stod(m[2]);
  line.after_mb = std::stod(m[3]);
  line.saved_mb = std::stod(m[4]);
  line.percent = std::stoi(m[5]);
  line.minutes = std::stod(m[6]);
  return true;
}

constexpr double kMB = 1048576.0;

// The line on standard error after the estimate: the time in words and the
// log, in MB.
struct EstimateNotesLine {
  std::string time, at_rate;
  double log_mb = 0;
};

bool ParseEstimateNotes(const std::string& err, EstimateNotesLine& line) {
  static const std::regex pattern(
      R"(The pass would take ([a-z0-9. ]+) in the default mode(, ([a-z0-9. ]+) at /MAXRATE=[0-9.]+)?, and write )"
      R"(about (\d+\.\d\d) (KB|MB) to the transaction log\n)");
  std::smatch m;
  if (!std::regex_match(err, m, pattern)) return false;
  line.time = m[1];
  line.at_rate = m[3];
  line.log_mb = std::stod(m[4]) / (m[5] == "KB" ? 1024 : 1);
  return true;
}

TEST_P(ReadOnlyCommands, EstimateMatchesARealCompressPassOfTheSameTable) {
  FillForEstimate(*db_);
  std::unique_ptr<TestDatabase> twin = MakeDatabase();
  FillForEstimate(*twin);
  const auto before = Stored(*db_);
  ASSERT_EQ(Stored(*twin), before);

  const RunResult estimate = Run(*db_, {"/estimate"});
  EXPECT_EQ(estimate.exit_code, 0);
  EstimateNotesLine notes;
  ASSERT_TRUE(ParseEstimateNotes(estimate.err, notes)) << estimate.err;
  EXPECT_EQ(notes.at_rate, "");
  EstimateLine line;
  ASSERT_TRUE(ParseEstimate(estimate.out, line)) << estimate.out;
  // The estimate writes nothing that stays.
  EXPECT_EQ(Stored(*db_), before);

  ASSERT_EQ(Run(*twin, {"/c"}).exit_code, 0);
  const double real_before = static_cast<double>(StoredBytes(before)) / kMB;
  const double real_after = static_cast<double>(StoredBytes(Stored(*twin))) / kMB;
  ASSERT_LT(real_after, real_before * 0.7);  // the data compresses

  EXPECT_EQ(line.records, static_cast<int64_t>(before.size()));
  EXPECT_NEAR(line.stored_mb, real_before, 0.006);
  // Within 1 %, and the two-decimal rounding.
  EXPECT_NEAR(line.after_mb, real_after, real_after * 0.01 + 0.006);
  EXPECT_NEAR(line.saved_mb, line.stored_mb - line.after_mb, 0.011);
  EXPECT_NEAR(line.percent, 100 * (real_before - real_after) / real_before, 1.0);

  // The log: the rows the pass rewrote (a value that would store its own
  // bytes again is left alone), their old and their new bytes, and the
  // allowance for each.
  const auto after = Stored(*twin);
  int64_t rows = 0, old_bytes = 0, new_bytes = 0;
  for (const auto& [key, stored] : before) {
    if (after.at(key) == stored) continue;
    ++rows;
    old_bytes += static_cast<int64_t>(stored.size());
    new_bytes += static_cast<int64_t>(after.at(key).size());
  }
  ASSERT_EQ(rows, 30);  // the compressible text
  const double log_mb = static_cast<double>(new_bytes + old_bytes + rows * kLogBytesPerRow) / kMB;
  EXPECT_NEAR(notes.log_mb, log_mb, log_mb * 0.01 + 0.006);

  // At a rate far below the pass's own, reading every stored byte at it is
  // the time.
  const RunResult slow = Run(*db_, {"/estimate", "/MAXRATE=0.01"});
  EXPECT_EQ(slow.exit_code, 0);
  ASSERT_TRUE(ParseEstimateNotes(slow.err, notes)) << slow.err;
  EXPECT_EQ(notes.at_rate, DurationText(static_cast<double>(StoredBytes(before)) / (0.01 * kMB)));
  EXPECT_EQ(Stored(*db_), before);
}

TEST_P(ReadOnlyCommands, EstimateFromASampleScalesToTheWholeTable) {
  // Many rows of one kind, so that any sample tells about the same.
  for (int i = 0; i < 400; ++i) Insert(*db_, Key(i), ReportText(3000, i));
  const auto before = Stored(*db_);
  const RunResult r = Run(*db_, {"/estimate", "/SAMPLE=25"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EstimateLine line;
  ASSERT_TRUE(ParseEstimate(r.out, line)) << r.out;
  EXPECT_EQ(line.records, 400);
  const double stored = static_cast<double>(StoredBytes(before)) / kMB;
  EXPECT_NEAR(line.stored_mb, stored, 0.01);  // every value has the same length
  EXPECT_GT(line.after_mb, 0);
  EXPECT_LT(line.after_mb, stored * 0.5);
  EXPECT_EQ(Stored(*db_), before);
}

TEST_P(ReadOnlyCommands, EstimateOfAnEmptyTable) {
  const RunResult r = Run(*db_, {"/estimate"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "Estimate: 0 records, 0.00 MB stored now, about 0.00 MB after compression (saves 0.00 MB, 0 %), "
            "about 0.0 minutes for the pass\n");
}

TEST_P(ReadOnlyCommands, ABadSampleIsRefusedOnStandardErrorBeforeConnecting) {
  for (const char* value : {"0", "-5", "100.5", "abc", "", "5%", "1e1", "nan", " 5"}) {
    SCOPED_TRACE(value);
    const RunResult r = Run(*db_, {"/estimate", std::string("/SAMPLE=") + value});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("Invalid value for /SAMPLE=: '") + value +
                         "' (a percentage of the rows, more than 0 and at most 100)\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, ReadOnlyCommands, ::testing::ValuesIn(AvailableProviders()), ProviderName());

// ---- The sample's percentage ----------------------------------------------

struct SampleCase {
  const char* text;
  bool valid;
  double percent;
};

class SamplePercent : public ::testing::TestWithParam<SampleCase> {};

TEST_P(SamplePercent, IsANumberAboveZeroUpToAHundred) {
  double percent = -1;
  EXPECT_EQ(ParseSamplePercent(GetParam().text, percent), GetParam().valid);
  EXPECT_EQ(percent, GetParam().valid ? GetParam().percent : -1);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SamplePercent,
    ::testing::Values(SampleCase{"10", true, 10}, SampleCase{"100", true, 100}, SampleCase{"2.5", true, 2.5},
                      SampleCase{"0.01", true, 0.01}, SampleCase{"0", false, 0}, SampleCase{"100.01", false, 0},
                      SampleCase{"-1", false, 0}, SampleCase{"", false, 0}, SampleCase{"10%", false, 0},
                      SampleCase{"2,5", false, 0}, SampleCase{"inf", false, 0}, SampleCase{"1e1", false, 0}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace tersify::testing
