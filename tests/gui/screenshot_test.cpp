// The screenshot tool as scripts/screenshot.sh runs it: the window after
// start-up, in the middle of a pass, after an estimate and the question before
// a pass, each a picture that
// is there and shows something (not one flat colour), on a database of a few
// hundred reports.

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/gui/gui_fixture.h"

namespace tersify::testing {
namespace {

// Rows added to the catalogue's reports, so that the pass has a middle.
constexpr int kMoreReports = 250;

struct ShotCase {
  const char* name;
  const char* mode;  // empty: the start-up picture
  QSize least;       // the picture is at least this large
  friend void PrintTo(const ShotCase& c, std::ostream* os) { *os << c.name; }
};

// Distinct colours in the picture, counted up to limit.
size_t DistinctColours(const QImage& image, size_t limit) {
  std::set<QRgb> colours;
  for (int y = 0; y < image.height() && colours.size() < limit; y += 2)
    for (int x = 0; x < image.width() && colours.size() < limit; x += 2) colours.insert(image.pixel(x, y));
  return colours.size();
}

class ScreenshotTest : public ::testing::TestWithParam<ShotCase> {
 protected:
  void SetUp() override {
    TestApplication();
    db_ = std::make_unique<TestDatabase>("sqlite");
    CreateCatalogue(*db_);
    std::string rows = "begin;";
    for (int i = 0; i < kMoreReports; ++i)
      rows += "insert into tqz_reports values ('S" + std::to_string(1000 + i) + "','More'," +
              HexLiteral(ReportText(i, 400 + 13 * i)) + ",null);";
    db_->ExecDirect(rows + "commit");
  }

  std::unique_ptr<TestDatabase> db_;
};

TEST_P(ScreenshotTest, ThePictureIsMadeAndIsNotBlank) {
  const std::string out = db_->FilePath() + "-shot.png";
  const std::string before = RawValue(db_->FilePath(), "select acReportData from tqz_reports where acReport='S1100'");
  QStringList args;
  if (*GetParam().mode) args << QString::fromLatin1(GetParam().mode);
  args << QString::fromStdString(db_->FilePath()) << QString::fromStdString(out);
  QProcess shot;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  shot.setProcessEnvironment(env);
  shot.start(QStringLiteral(TERSIFY_SCREENSHOT_EXE), args);
  ASSERT_TRUE(shot.waitForFinished(120000));
  EXPECT_EQ(shot.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(shot.exitCode(), 0) << shot.readAllStandardError().toStdString();

  QImage image;
  ASSERT_TRUE(image.load(QString::fromStdString(out))) << out;
  EXPECT_GE(image.width(), GetParam().least.width());
  EXPECT_GE(image.height(), GetParam().least.height());
  EXPECT_GE(DistinctColours(image, 16), 16u);
  // The pass ran on a copy: the database itself is as it was.
  EXPECT_EQ(RawValue(db_->FilePath(), "select acReportData from tqz_reports where acReport='S1100'"), before);
  std::filesystem::remove(out);
}

INSTANTIATE_TEST_SUITE_P(Pictures, ScreenshotTest,
                         ::testing::Values(ShotCase{"AfterStartUp", "", QSize(1000, 700)},
                                           ShotCase{"MidPass", "--pass", QSize(1000, 700)},
                                           ShotCase{"AfterEstimate", "--estimate", QSize(1000, 700)},
                                           // The question is answered no: nothing is written.
                                           ShotCase{"TheQuestionBeforeAPass", "--confirm", QSize(300, 120)}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tersify::testing
