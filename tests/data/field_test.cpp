#include <gtest/gtest.h>

#include "framework/data/field_conversions.h"
#include "tests/data/fixture.h"

namespace tersify::testing {
namespace {

// A one-row dataset with one column of the given type, opened and in edit state.
std::unique_ptr<TMemDataSet> OneField(TFieldType type, Variant value = Variant()) {
  auto ds = std::make_unique<TMemDataSet>();
  ds->columns = {{"f", type}};
  ds->rows = {{value}};
  ds->Open();
  ds->Edit();
  return ds;
}

struct ConversionCase {
  TFieldType type;
  const char* text;
  Variant stored;  // null: the text is refused
  const char* error;
};

class FieldTextConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(FieldTextConversion, SetAsStringConvertsOrRaises) {
  const ConversionCase c = GetParam();
  auto ds = OneField(c.type);
  TField* f = ds->Fields(0);
  if (c.error) {
    try {
      f->SetAsString(c.text);
      FAIL() << "accepted " << c.text;
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
    EXPECT_TRUE(f->IsNull());  // nothing stored
  } else {
    f->SetAsString(c.text);
    EXPECT_EQ(f->Value(), c.stored);
    EXPECT_EQ(f->Value().Type(), c.stored.Type());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, FieldTextConversion,
    ::testing::Values(
        ConversionCase{ftInteger, "42", Variant(42), nullptr},
        ConversionCase{ftInteger, " -7 ", Variant(-7), nullptr},
        ConversionCase{ftInteger, "", Variant(), nullptr},
        ConversionCase{ftInteger, "4x", Variant(), "'4x' is not a valid integer value"},
        ConversionCase{ftInteger, "1.5", Variant(), "'1.5' is not a valid integer value"},
        ConversionCase{ftLargeint, "9000000000", Variant(9000000000LL), nullptr},
        ConversionCase{ftSmallint, "12", Variant(12), nullptr},
        ConversionCase{ftFloat, "12.5", Variant(12.5), nullptr},
        ConversionCase{ftFloat, "1e3", Variant(1000.0), nullptr},
        ConversionCase{ftFloat, "-0.25", Variant(-0.25), nullptr},
        ConversionCase{ftFloat, "abc", Variant(), "'abc' is not a valid floating point value"},
        ConversionCase{ftFloat, "1,5", Variant(), "'1,5' is not a valid floating point value"},
        ConversionCase{ftFloat, "nan", Variant(), "'nan' is not a valid floating point value"},
        ConversionCase{ftCurrency, "3.75", Variant(3.75), nullptr},
        ConversionCase{ftBoolean, "true", Variant(true), nullptr},
        ConversionCase{ftBoolean, "F", Variant(false), nullptr},
        ConversionCase{ftBoolean, "maybe", Variant(), "'maybe' is not a valid boolean value"},
        ConversionCase{ftDateTime, "2024-02-29 13:45:10", Variant(EncodeDateTime(2024, 2, 29, 13, 45, 10)),
                       nullptr},
        ConversionCase{ftDate, "2024-02-29", Variant(EncodeDateTime(2024, 2, 29)), nullptr},
        ConversionCase{ftTime, "13:30", Variant(TDateTime{13.5 / 24}), nullptr},
        ConversionCase{ftDateTime, "yesterday", Variant(), "'yesterday' is not a valid date and time"},
        ConversionCase{ftDate, "2024-13-01", Variant(), "'2024-13-01' is not a valid date"},
        ConversionCase{ftString, "text", Variant("text"), nullptr},
        ConversionCase{ftBytes, "raw", Variant(TBytes{"raw"}), nullptr}));

TEST(FieldValues, NumbersAssignedToOtherTypesAreConverted) {
  auto ds = OneField(ftInteger);
  TField* f = ds->Fields(0);
  f->SetValue(2.6);
  EXPECT_EQ(f->Value(), Variant(3));
  f->SetAsBoolean(true);
  EXPECT_EQ(f->AsInteger(), -1);
  try {
    f->SetValue(100000);
  } catch (...) {
    FAIL() << "integer range refused";
  }
  auto small = OneField(ftSmallint);
  EXPECT_THROW(small->Fields(0)->SetAsInteger(40000), EDatabaseError);

  auto text = OneField(ftString);
  text->Fields(0)->SetAsFloat(2.5);
  EXPECT_EQ(text->Fields(0)->AsString(), "2.5");
}

TEST(FieldValues, NullReadsAsZeroEmptyAndFalse) {
  auto ds = OneField(ftInteger);
  TField* f = ds->Fields(0);
  EXPECT_TRUE(f->IsNull());
  EXPECT_EQ(f->AsInteger(), 0);
  EXPECT_EQ(f->AsFloat(), 0.0);
  EXPECT_FALSE(f->AsBoolean());
  EXPECT_EQ(f->AsString(), "");
  f->SetAsInteger(5);
  f->Clear();
  EXPECT_TRUE(f->IsNull());
}

TEST(FieldValues, StringValueReadAsNumberRaisesConvertError) {
  auto ds = OneField(ftString, Variant("12x"));
  EXPECT_THROW(ds->Fields(0)->AsInteger(), EConvertError);
  EXPECT_THROW(ds->Fields(0)->AsFloat(), EConvertError);
}

TEST(FieldText, SetTextUsesTheHandlerInsteadOfTheConversion) {
  auto ds = OneField(ftFloat);
  TField* f = ds->Fields(0);
  f->SetText("1.25");  // no handler: the field's own conversion
  EXPECT_EQ(f->AsFloat(), 1.25);
  std::vector<std::string> got;
  auto handler = [&](TField* sender, const std::string& text) {
    got.push_back(text);
    sender->SetAsString(text.substr(1));  // drops a leading currency sign
  };
  f->OnSetText = TFieldSetTextEvent::Of(handler);
  f->SetText("$7.5");
  EXPECT_EQ(got, (std::vector<std::string>{"$7.5"}));
  EXPECT_EQ(f->AsFloat(), 7.5);
  // SetAsString never goes through the handler.
  f->SetAsString("2");
  EXPECT_EQ(got.size(), 1u);
  // A handler that swallows the text leaves the value alone.
  auto ignore = [](TField*, const std::string&) {};
  f->OnSetText = TFieldSetTextEvent::Of(ignore);
  f->SetText("99");
  EXPECT_EQ(f->AsFloat(), 2.0);
}

TEST(FieldText, GetTextHandlerAndFormats) {
  auto ds = OneField(ftFloat, Variant(1234.5));
  TField* f = ds->Fields(0);
  EXPECT_EQ(f->DisplayText(), "1234.5");
  f->SetDisplayFormat("#,##0.00");
  f->SetEditFormat("0.000");
  EXPECT_EQ(f->DisplayText(), "1,234.50");
  EXPECT_EQ(f->Text(), "1234.500");
  bool display_flag = false;
  auto get = [&](TField*, std::string& text, bool display) {
    display_flag = display;
    text = "shown";
  };
  f->OnGetText = TFieldGetTextEvent::Of(get);
  EXPECT_EQ(f->DisplayText(), "shown");
  EXPECT_TRUE(display_flag);
  EXPECT_EQ(f->Text(), "shown");
  EXPECT_FALSE(display_flag);
}

TEST(FieldFormats, FormatFloatAndFormatDateTime) {
  EXPECT_EQ(FormatFloat("0.00", 3.14159), "3.14");
  EXPECT_EQ(FormatFloat("#.##", 0.5), ".5");
  EXPECT_EQ(FormatFloat("#,##0", 1234567), "1,234,567");
  EXPECT_EQ(FormatFloat("0.00;(0.00)", -2.5), "(2.50)");
  EXPECT_EQ(FormatFloat("0.0", -0.04), "0.0");
  EXPECT_EQ(FormatFloat("\"EUR \"0.00", 5), "EUR 5.00");
  EXPECT_EQ(FormatDateTime("dd.mm.yyyy hh:nn", EncodeDateTime(2023, 4, 5, 6, 7)), "05.04.2023 06:07");
  EXPECT_EQ(FormatDateTime("hh:mm:ss", EncodeDateTime(2023, 4, 5, 6, 7, 8)), "06:07:08");
}

TEST(FieldClasses, CreateFieldOfTypeChoosesTheClass) {
  struct Case {
    TFieldType type;
    const char* cls;
  } cases[] = {{ftString, "TStringField"}, {ftWideString, "TWideStringField"},
               {ftInteger, "TIntegerField"}, {ftSmallint, "TSmallintField"},
               {ftLargeint, "TLargeintField"}, {ftFloat, "TFloatField"},
               {ftCurrency, "TCurrencyField"}, {ftBCD, "TBCDField"},
               {ftFMTBcd, "TFMTBCDField"}, {ftDateTime, "TDateTimeField"},
               {ftBlob, "TBlobField"}, {ftOraBlob, "TBlobField"},
               {ftMemo, "TMemoField"}, {ftWideMemo, "TWideMemoField"},
               {ftGraphic, "TGraphicField"}, {ftDataSet, "TDataSetField"}};
  TComponent owner(nullptr);
  for (const Case& c : cases) {
    TField* f = CreateFieldOfType(&owner, c.type);
    EXPECT_EQ(f->ClassName(), c.cls) << FieldTypeName(c.type);
    EXPECT_EQ(f->DataType(), c.type);
    EXPECT_EQ(f->Owner(), &owner);
  }
  EXPECT_EQ(owner.ComponentCount(), static_cast<int>(std::size(cases)));
}

}  // namespace
}  // namespace tersify::testing
