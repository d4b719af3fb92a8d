// Numeric text input: the text cleaning in both separator conventions, the
// values typed text gives each numeric field type of an open dataset, which
// fields get the handler, chaining of the program's own handlers and giving
// them back at close (and when the dataset goes away while open).

#include <functional>

#include "db/numeric_input.h"
#include "framework/rtl/platform.h"
#include "tests/db/layer_fixture.h"

namespace tersify::testing {
namespace {

// Fixes the separators for one test; the locale's come back afterwards.
class SeparatorScope {
 public:
  SeparatorScope(char decimal, char thousand) { SetNumericSeparatorsOverride(decimal, thousand); }
  ~SeparatorScope() { SetNumericSeparatorsOverride('\0', '\0'); }
};

const void* NumericCode() { return TFieldSetTextEvent::CodeOf<&TvrDataset::NumericSetText, TvrDataset>(); }
bool HasNumericSetText(const TField* field, const TvrDataset* owner) {
  return field->OnSetText.Code() == NumericCode() && field->OnSetText.Data() == owner;
}

// ---------------------------------------------------------------- text cleaning

struct CleanCase {
  const char* name;
  char decimal;
  char thousand;
  const char* text;
  bool integer_only;
  const char* expected;
};

class NormalizeNumericTextTest : public ::testing::TestWithParam<CleanCase> {};

TEST_P(NormalizeNumericTextTest, Cleans) {
  const CleanCase& c = GetParam();
  SeparatorScope separators(c.decimal, c.thousand);
  EXPECT_EQ(NormalizeNumericText(c.text, c.integer_only), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NormalizeNumericTextTest,
    ::testing::Values(
        // Point as decimal separator, comma for grouping.
        CleanCase{"GroupedDecimal", '.', ',', "1,234.56", false, "1234.56"},
        CleanCase{"BothKindsRightmostIsDecimal", '.', ',', "1.234,56", false, "1234.56"},
        CleanCase{"ManyGroupsBothKinds", '.', ',', "1.234.567,89", false, "1234567.89"},
        CleanCase{"OnlyGroupingIsDropped", '.', ',', "12,5", false, "125"},
        CleanCase{"PlainDecimalStays", '.', ',', "12.5", false, "12.5"},
        CleanCase{"IntegerLosesGrouping", '.', ',', "1,234,567", true, "1234567"},
        CleanCase{"IntegerKeepsDecimalForTheConversion", '.', ',', "12.7", true, "12.7"},
        CleanCase{"IntegerGroupedWithFraction", '.', ',', "1,234.00", true, "1234.00"},
        CleanCase{"CurrencyBefore", '.', ',', "$ 1,234.50", false, "1234.50"},
        CleanCase{"CurrencyCodeAfter", '.', ',', "7.25 USD", false, "7.25"},
        CleanCase{"Parentheses", '.', ',', "(1,234.50)", false, "-1234.50"},
        CleanCase{"ParenthesesAroundDecoration", '.', ',', "($ 12)", false, "-12"},
        CleanCase{"TrailingMinus", '.', ',', "1234.50-", false, "-1234.50"},
        CleanCase{"TrailingMinusAfterDecoration", '.', ',', "$ 5 -", false, "-5"},
        CleanCase{"MinusBlankNumber", '.', ',', "- 12", false, "-12"},
        CleanCase{"DoubleMinus", '.', ',', "--5", false, "-5"},
        CleanCase{"TrailingPlus", '.', ',', "12+", false, "12"},
        CleanCase{"LeadingPlusStays", '.', ',', "+12", false, "+12"},
        CleanCase{"LoneMinus", '.', ',', "-", false, ""},
        CleanCase{"EmptyParentheses", '.', ',', "()", false, ""},
        CleanCase{"Empty", '.', ',', "", false, ""},
        CleanCase{"BlanksOnly", '.', ',', " \t\r\n", false, ""},
        CleanCase{"ControlCharactersAround", '.', ',', "\t42\r\n", true, "42"},
        CleanCase{"NoNumberKeepsLastCharacter", '.', ',', "abc", false, "c"},
        CleanCase{"LowerExponentInsideStays", '.', ',', "1e5", false, "1e5"},
        CleanCase{"LowerEAtTheEndsGoes", '.', ',', "e5e", false, "5"},
        CleanCase{"UpperExponentIsANumberCharacter", '.', ',', "x1E5x", false, "1E5"},
        // Comma as decimal separator, point for grouping.
        CleanCase{"CommaGroupedDecimal", ',', '.', "1.234,56", false, "1234,56"},
        CleanCase{"CommaBothKindsRightmostIsDecimal", ',', '.', "1,234.56", false, "1234,56"},
        CleanCase{"CommaOnlyGroupingIsDropped", ',', '.', "12.5", false, "125"},
        CleanCase{"CommaPlainDecimalStays", ',', '.', "12,5", false, "12,5"},
        CleanCase{"CommaIntegerLosesGrouping", ',', '.', "1.234.567", true, "1234567"},
        CleanCase{"CommaIntegerKeepsDecimal", ',', '.', "12,7", true, "12,7"},
        CleanCase{"CommaCurrencyAfter", ',', '.', "1.234,50 K\xC4\x8D", false, "1234,50"},
        // An upper-case E is an exponent character, even in a currency code.
        CleanCase{"CurrencyCodeWithE", ',', '.', "1.234,50 EUR", false, "1234,50 E"},
        CleanCase{"CommaTrailingMinus", ',', '.', "3,5-", false, "-3,5"},
        // Separators that coincide: the character is read as decimal in an integer too.
        CleanCase{"SameSeparatorsInteger", ',', ',', "12,7", true, "12,7"},
        CleanCase{"SameSeparatorsFloat", ',', ',', "1,234,5", false, "1234,5"},
        // A blank as grouping separator (some locales use one).
        CleanCase{"BlankGrouping", ',', ' ', " 1 234,5 ", false, "1234,5"},
        CleanCase{"BlankGroupingInteger", ',', ' ', "1 234 567", true, "1234567"}),
    [](const ::testing::TestParamInfo<CleanCase>& info) { return std::string(info.param.name); });

TEST(TrimToNumberTest, ScansFromBothEnds) {
  SeparatorScope separators('.', ',');
  EXPECT_EQ(TrimToNumber(""), "");
  EXPECT_EQ(TrimToNumber("x"), "x");  // the front scan never looks at the last character
  EXPECT_EQ(TrimToNumber("ab"), "b");
  EXPECT_EQ(TrimToNumber("ab1cd"), "1");
  EXPECT_EQ(TrimToNumber("<(1.5)>"), "(1.5)");
  EXPECT_EQ(MakeNegative(" 7 "), "-7");
  EXPECT_EQ(MakeNegative("-7"), "-7");
  EXPECT_EQ(MakeNegative(""), "");
}

// ---------------------------------------------------------------- datasets

// A sqlite database with one row of every numeric column kind, and a dataset
// on it (not yet open).
class NumericInputTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    test_db_ = std::make_unique<TestDatabase>("sqlite");
    test_db_->ExecDirect(
        "create table nums (anNo integer primary key, anInt int, anBig bigint, anFloat float,"
        " anMoney money, anDec decimal(10,2), anSmall smallint, acText varchar(20));"
        "insert into nums values (1, 1, 1, 1.5, 2.5, 3.25, 4, 'x')");
    db_ = std::make_unique<TvrDatabase>(nullptr);
    ConnectTo(*db_, *test_db_);
    db_->SetConnected(true);
    ds_ = std::make_unique<TvrDataset>(nullptr);
    ds_->SetDatabase(db_.get());
    ds_->SetSQLText("select * from nums");
    SetNumericSeparatorsOverride('.', ',');
  }
  void TearDown() override {
    SetNumericSeparatorsOverride('\0', '\0');
    ds_.reset();
    db_.reset();
    LayerTest::TearDown();
    test_db_.reset();
  }

  // A field the program makes itself (a persistent field), owned by the dataset.
  TField* AddField(const std::string& name, TFieldType type) {
    TField* field = CreateFieldOfType(ds_.get(), type);
    field->SetFieldName(name);
    field->SetDataSet(ds_.get());
    return field;
  }

  std::unique_ptr<TestDatabase> test_db_;
  std::unique_ptr<TvrDatabase> db_;
  std::unique_ptr<TvrDataset> ds_;
};

// Text typed into each kind of column gives this value (AsString), or an error.
struct InputCase {
  const char* name;
  char decimal;
  char thousand;
  const char* column;
  const char* text;
  const char* stored;  // nullptr: the field refuses the text
};

class NumericInputValueTest : public NumericInputTest, public ::testing::WithParamInterface<InputCase> {};

TEST_P(NumericInputValueTest, TypedTextGivesTheValue) {
  const InputCase& c = GetParam();
  SetNumericSeparatorsOverride(c.decimal, c.thousand);
  ds_->Open();
  ds_->Edit();
  TField* field = ds_->FieldByName(c.column);
  if (c.stored) {
    field->SetText(c.text);
    EXPECT_EQ(field->AsString(), c.stored);
  } else {
    const Variant before = field->Value();
    EXPECT_THROW(field->SetText(c.text), Exception);
    EXPECT_EQ(field->Value().AsString(), before.AsString());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NumericInputValueTest,
    ::testing::Values(
        InputCase{"FloatGrouped", '.', ',', "anFloat", "1,234.56", "1234.56"},
        InputCase{"FloatBothKinds", '.', ',', "anFloat", "1.234,56", "1234.56"},
        InputCase{"FloatOnlyGrouping", '.', ',', "anFloat", "12,5", "125"},
        InputCase{"FloatParentheses", '.', ',', "anFloat", "(1,234.50)", "-1234.5"},
        InputCase{"FloatTrailingMinus", '.', ',', "anFloat", "1234.50-", "-1234.5"},
        InputCase{"FloatLeadingPlus", '.', ',', "anFloat", "+12", "12"},
        InputCase{"FloatExponent", '.', ',', "anFloat", "1e5", "100000"},
        InputCase{"FloatEmptyIsNull", '.', ',', "anFloat", "  ", ""},
        InputCase{"FloatNoNumber", '.', ',', "anFloat", "abc", nullptr},
        InputCase{"CurrencySymbol", '.', ',', "anMoney", "$ 1,234.50", "1234.5"},
        InputCase{"CurrencyEuroSign", '.', ',', "anMoney", "\xE2\x82\xAC" "99.90", "99.9"},
        InputCase{"IntegerGrouped", '.', ',', "anInt", "1,234", "1234"},
        InputCase{"IntegerNegativeParentheses", '.', ',', "anInt", "(42)", "-42"},
        InputCase{"IntegerDecimalRefused", '.', ',', "anInt", "12.7", nullptr},
        InputCase{"IntegerExponentRefused", '.', ',', "anInt", "1e3", nullptr},
        InputCase{"IntegerOutOfRange", '.', ',', "anInt", "3,000,000,000", nullptr},
        InputCase{"LargeintGrouped", '.', ',', "anBig", "9,000,000,000", "9000000000"},
        InputCase{"LargeintTrailingMinus", '.', ',', "anBig", "5 -", "-5"},
        // Types without the handler convert the text as it is.
        InputCase{"SmallintNotCleaned", '.', ',', "anSmall", "1,234", nullptr},
        InputCase{"SmallintPlain", '.', ',', "anSmall", "12", "12"},
        InputCase{"DecimalNotCleaned", '.', ',', "anDec", "$ 3.50", nullptr},
        InputCase{"TextUntouched", '.', ',', "acText", "$ (1,2)", "$ (1,2)"},
        // Comma as decimal separator.
        InputCase{"CommaFloatGrouped", ',', '.', "anFloat", "1.234,56", "1234,56"},
        InputCase{"CommaFloatBothKinds", ',', '.', "anFloat", "1,234.56", "1234,56"},
        InputCase{"CommaFloatOnlyGrouping", ',', '.', "anFloat", "12.5", "125"},
        InputCase{"CommaCurrencyAfter", ',', '.', "anMoney", "1.234,50 K\xC4\x8D", "1234,5"},
        InputCase{"CommaCurrencyCodeWithERefused", ',', '.', "anMoney", "1.234,50 EUR", nullptr},
        InputCase{"CommaIntegerGrouped", ',', '.', "anInt", "1.234", "1234"},
        InputCase{"CommaIntegerDecimalRefused", ',', '.', "anInt", "12,7", nullptr}),
    [](const ::testing::TestParamInfo<InputCase>& info) { return std::string(info.param.name); });

TEST_F(NumericInputTest, HandlerOnlyOnWritableNumericDataFields) {
  ds_->SetSQLText(
      "select anNo, anInt, anBig, anFloat, anFloat as anFloat2, anMoney, anDec, anSmall, acText from nums");
  TField* integer = AddField("anInt", ftInteger);
  TField* big = AddField("anBig", ftLargeint);
  TField* flt = AddField("anFloat", ftFloat);
  TField* money = AddField("anMoney", ftCurrency);
  TField* bcd = AddField("anDec", ftBCD);
  TField* fmt_bcd = AddField("anNo", ftFMTBcd);
  TField* small = AddField("anSmall", ftSmallint);
  TField* word = AddField("acText", ftWord);
  TField* read_only = AddField("anFloat2", ftFloat);
  read_only->SetReadOnly(true);
  TField* calculated = AddField("anCalc", ftFloat);
  calculated->SetFieldKind(TFieldKind::fkCalculated);
  TField* lookup = AddField("anLookup", ftInteger);
  lookup->SetFieldKind(TFieldKind::fkLookup);
  ds_->Open();

  for (TField* field : {integer, big, flt, money, bcd})
    EXPECT_TRUE(HasNumericSetText(field, ds_.get())) << field->FieldName();
  for (TField* field : {fmt_bcd, small, word, read_only, calculated, lookup})
    EXPECT_FALSE(field->OnSetText.Assigned()) << field->FieldName();
  EXPECT_TRUE(ds_->SetTextHelpers().empty());

  ds_->Close();
  for (int i = 0; i < ds_->FieldCount(); ++i) EXPECT_FALSE(ds_->Fields(i)->OnSetText.Assigned());
}

TEST_F(NumericInputTest, AutoIncColumnFieldNeverGetsTheHandler) {
  TField* auto_inc = AddField("anNo", ftAutoInc);
  TField* integer = AddField("anInt", ftInteger);
  ds_->Open();
  EXPECT_FALSE(auto_inc->OnSetText.Assigned());
  EXPECT_TRUE(HasNumericSetText(integer, ds_.get()));
}

// Records what a program handler was given.
struct Recorder {
  std::vector<std::string> texts;
  void operator()(TField*, const std::string& text) { texts.push_back(text); }
};

TEST_F(NumericInputTest, AfterOpenHandlerIsChainedWithCleanedText) {
  Recorder program;
  const TFieldSetTextEvent program_handler = TFieldSetTextEvent::Of(program);
  auto after_open = [&](TDataSet* dataset) { dataset->FieldByName("anFloat")->OnSetText = program_handler; };
  ds_->AfterOpen = TDataSetNotifyEvent::Of(after_open);

  ds_->Open();
  TField* field = ds_->FieldByName("anFloat");
  EXPECT_TRUE(HasNumericSetText(field, ds_.get()));
  ASSERT_EQ(ds_->SetTextHelpers().size(), 1u);
  EXPECT_EQ(ds_->SetTextHelpers()[0]->Field, field);

  ds_->Edit();
  field->SetText(" $ (1,234.50) ");
  ASSERT_EQ(program.texts.size(), 1u);
  EXPECT_EQ(program.texts[0], "-1234.50");
  EXPECT_EQ(field->AsString(), "1.5");  // the kept handler decides; nothing else stored it
  ds_->Cancel();

  ds_->Close();
  EXPECT_TRUE(ds_->SetTextHelpers().empty());

  // Default fields come again at every open: the chain is made afresh, not stacked.
  ds_->Open();
  field = ds_->FieldByName("anFloat");
  ASSERT_EQ(ds_->SetTextHelpers().size(), 1u);
  EXPECT_TRUE(ds_->SetTextHelpers()[0]->SavedOnSetText == program_handler);
  ds_->Edit();
  field->SetText("2-");
  EXPECT_EQ(program.texts.back(), "-2");
}

TEST_F(NumericInputTest, HandlerSetBeforeOpenComesBackAtClose) {
  Recorder program;
  const TFieldSetTextEvent program_handler = TFieldSetTextEvent::Of(program);
  TField* field = AddField("anMoney", ftCurrency);
  TField* plain = AddField("anInt", ftInteger);
  field->OnSetText = program_handler;
  ds_->Open();
  EXPECT_TRUE(HasNumericSetText(field, ds_.get()));
  EXPECT_TRUE(HasNumericSetText(plain, ds_.get()));
  ds_->Close();
  EXPECT_TRUE(field->OnSetText == program_handler);
  EXPECT_FALSE(plain->OnSetText.Assigned());
  ds_->Open();
  ds_->Close();
  EXPECT_TRUE(field->OnSetText == program_handler);
}

TEST_F(NumericInputTest, HandlerGivenWhileOpenReplacesTheCleaning) {
  Recorder earlier, later;
  const TFieldSetTextEvent earlier_handler = TFieldSetTextEvent::Of(earlier);
  const TFieldSetTextEvent later_handler = TFieldSetTextEvent::Of(later);
  TField* had_one = AddField("anFloat", ftFloat);
  TField* had_none = AddField("anInt", ftInteger);
  had_one->OnSetText = earlier_handler;
  ds_->Open();
  had_one->OnSetText = later_handler;
  had_none->OnSetText = later_handler;
  ds_->Edit();
  had_none->SetText("$ 1,234");
  EXPECT_EQ(later.texts.back(), "$ 1,234");  // no longer cleaned
  ds_->Cancel();
  ds_->Close();
  EXPECT_TRUE(had_one->OnSetText == earlier_handler);  // the earlier handler wins
  EXPECT_TRUE(had_none->OnSetText == later_handler);   // nothing earlier: it stays
}

TEST_F(NumericInputTest, NumericSetTextOfAnotherDatasetIsLeftAlone) {
  TvrDataset other(nullptr);
  TField* field = AddField("anFloat", ftFloat);
  field->OnSetText = TFieldSetTextEvent::Bind<&TvrDataset::NumericSetText>(&other);
  ds_->Open();
  EXPECT_TRUE(HasNumericSetText(field, &other));
  EXPECT_TRUE(ds_->SetTextHelpers().empty());  // not chained to itself
  ds_->Close();
  EXPECT_FALSE(field->OnSetText.Assigned());
}

TEST_F(NumericInputTest, KeptHandlerErrorsReachTheCaller) {
  auto refuse = [](TField*, const std::string& text) { throw Exception("refused " + text); };
  TField* field = AddField("anFloat", ftFloat);
  field->OnSetText = TFieldSetTextEvent::Of(refuse);
  ds_->Open();
  ds_->Edit();
  try {
    field->SetText("1,5-");
    ADD_FAILURE() << "the kept handler's error was lost";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "refused -15");
  }
}

TEST_F(NumericInputTest, DesignModeInstallsNothing) {
  ds_->SetDesigning(true);
  ds_->Open();
  for (int i = 0; i < ds_->FieldCount(); ++i) EXPECT_FALSE(ds_->Fields(i)->OnSetText.Assigned());
}

TEST_F(NumericInputTest, DatasetDestroyedWhileOpenGivesHandlersBack) {
  // Fields owned by another component outlive the dataset; they must not keep
  // a handler bound to it.
  TComponent form(nullptr);
  Recorder program;
  const TFieldSetTextEvent program_handler = TFieldSetTextEvent::Of(program);
  TField* kept = CreateFieldOfType(&form, ftFloat);
  kept->SetFieldName("anFloat");
  kept->SetDataSet(ds_.get());
  kept->OnSetText = program_handler;
  TField* bare = CreateFieldOfType(&form, ftInteger);
  bare->SetFieldName("anInt");
  bare->SetDataSet(ds_.get());
  ds_->Open();
  ds_.reset();
  EXPECT_EQ(kept->DataSet(), nullptr);
  EXPECT_TRUE(kept->OnSetText == program_handler);
  EXPECT_FALSE(bare->OnSetText.Assigned());
}

TEST_F(NumericInputTest, FieldDestroyedWhileOpenIsNotTouchedAtClose) {
  Recorder program;
  TField* doomed = AddField("anFloat", ftFloat);
  doomed->OnSetText = TFieldSetTextEvent::Of(program);
  TField* other = AddField("anInt", ftInteger);
  ds_->Open();
  ASSERT_EQ(ds_->SetTextHelpers().size(), 1u);
  DestroyField(doomed);
  ds_->Close();  // would write into the destroyed field (caught by the sanitizer runs)
  EXPECT_TRUE(ds_->SetTextHelpers().empty());
  EXPECT_FALSE(other->OnSetText.Assigned());
}

}  // namespace
}  // namespace tersify::testing
