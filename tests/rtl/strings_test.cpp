#include "framework/rtl/strings.h"

#include <gtest/gtest.h>

#include "framework/rtl/exception.h"

namespace tersify {
namespace {

TEST(TStrings, TextEndsEveryLineWithCrLf) {
  TStringList l;
  EXPECT_EQ(l.Text(), "");
  l.Add("a");
  l.Add("");
  l.Add("c");
  EXPECT_EQ(l.Text(), "a\r\n\r\nc\r\n");
}

class SetText : public ::testing::TestWithParam<std::pair<const char*, std::vector<std::string>>> {};

TEST_P(SetText, SplitsAtCrLfLfOrCr) {
  TStringList l;
  l.Add("old");
  l.SetText(GetParam().first);
  ASSERT_EQ(l.Count(), static_cast<int>(GetParam().second.size()));
  for (int i = 0; i < l.Count(); ++i) EXPECT_EQ(l[i], GetParam().second[static_cast<size_t>(i)]);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SetText,
    ::testing::Values(std::make_pair("", std::vector<std::string>{}),
                      std::make_pair("a", std::vector<std::string>{"a"}),
                      std::make_pair("a\r\n", std::vector<std::string>{"a"}),
                      std::make_pair("a\r\nb", std::vector<std::string>{"a", "b"}),
                      std::make_pair("a\nb\rc", std::vector<std::string>{"a", "b", "c"}),
                      std::make_pair("a\n\rb", std::vector<std::string>{"a", "", "b"}),
                      std::make_pair("\r\n\r\n", std::vector<std::string>{"", ""}),
                      std::make_pair("x\r\r\ny", std::vector<std::string>{"x", "", "y"})));

TEST(TStrings, TextRoundTrips) {
  TStringList a, b;
  a.SetText("line 1\r\n\r\nline=3\r\n");
  b.SetText(a.Text());
  EXPECT_EQ(b.Text(), "line 1\r\n\r\nline=3\r\n");
}

TEST(TStrings, NameValuePairs) {
  TStringList l;
  l.Add("Server=host,1433");
  l.Add("no pair here");
  l.Add("Database=db=1");
  EXPECT_EQ(l.Names(0), "Server");
  EXPECT_EQ(l.Names(1), "");
  EXPECT_EQ(l.ValueFromIndex(2), "db=1");
  EXPECT_EQ(l.Values("server"), "host,1433");  // names ignore case
  EXPECT_EQ(l.Values("Missing"), "");
  EXPECT_EQ(l.IndexOfName("DATABASE"), 2);
  l.SetValue("server", "other");
  EXPECT_EQ(l[0], "server=other");
  l.SetValue("User", "sa");
  EXPECT_EQ(l.Count(), 4);
  EXPECT_EQ(l[3], "User=sa");
  l.SetValue("Server", "");  // an empty value removes the line
  EXPECT_EQ(l.IndexOfName("Server"), -1);
  EXPECT_EQ(l.Count(), 3);
}

TEST(TStrings, IndexOfIgnoresCaseUnlessCaseSensitive) {
  TStringList l;
  l.Add("Alpha");
  EXPECT_EQ(l.IndexOf("ALPHA"), 0);
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf("ALPHA"), -1);
  EXPECT_EQ(l.IndexOf("Alpha"), 0);
}

class TCounted : public TObject {
 public:
  explicit TCounted(int* alive) : alive_(alive) { ++*alive_; }
  ~TCounted() override { --*alive_; }

 private:
  int* alive_;
};

TEST(TStrings, ObjectsTravelWithTheirLines) {
  TObject a, b;
  TStringList l;
  l.AddObject("a", &a);
  l.Add("none");
  l.Insert(0, "b", &b);
  EXPECT_EQ(l.Objects(0), &b);
  EXPECT_EQ(l.Objects(1), &a);
  EXPECT_EQ(l.Objects(2), nullptr);
  EXPECT_EQ(l.IndexOfObject(&a), 1);
  l.Delete(0);
  EXPECT_EQ(l.IndexOfObject(&a), 0);
  l.SetObjects(1, &b);
  EXPECT_EQ(l.Objects(1), &b);
  TStringList copy(l);  // lines and objects, the objects stay their owner's
  EXPECT_EQ(copy.Objects(0), &a);
  EXPECT_EQ(copy.Text(), l.Text());
}

TEST(TStrings, OwningListFreesItsObjects) {
  int alive = 0;
  {
    TStringList l;
    l.SetOwnsObjects(true);
    for (int i = 0; i < 3; ++i) l.AddObject("x", new TCounted(&alive));  // the list owns them
    EXPECT_EQ(alive, 3);
    l.Delete(1);
    EXPECT_EQ(alive, 2);
  }
  EXPECT_EQ(alive, 0);
  // A list that does not own its objects leaves them alone.
  TCounted kept(&alive);
  {
    TStringList l;
    l.AddObject("k", &kept);
    l.Clear();
  }
  EXPECT_EQ(alive, 1);
}

TEST(TStrings, BadIndexRaisesListError) {
  TStringList l;
  l.Add("only");
  try {
    (void)l[1];
    ADD_FAILURE() << "no error";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (1)");
  }
  EXPECT_THROW(l.Delete(-1), EListError);
  EXPECT_THROW(l.Insert(3, "x"), EListError);
  EXPECT_NO_THROW(l.Insert(1, "end"));
  EXPECT_EQ(l.Text(), "only\r\nend\r\n");
}

}  // namespace
}  // namespace tersify
