// Blob values read on first touch, by the row's key, against every provider;
// and kept from the open wherever the row cannot be found again.

#include <string>

#include "tests/client/client_fixture.h"

namespace tersify::testing {
namespace {

// Bytes that are not text and that a truncation anywhere would change.
std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

class DeferredBlobTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    Db().ExecDirect(
        "create table docs (id integer primary key, title varchar(20), data blob, body clob);"
        "create table loose (id integer, data blob);"
        "insert into docs values (1, 'a', X'0101', 'first');"
        "insert into docs values (2, 'b', X'0202', 'second');"
        "insert into docs values (3, 'c', null, 'third');"
        "insert into loose values (1, X'0101');");
  }
};

TEST_P(DeferredBlobTest, ABlobIsReadWhenFirstTouchedNotAtOpen) {
  auto q = Opened("select id, title, data, body from docs order by id");
  // Changed behind the dataset's back after the open: the value read is the new one.
  Db().ExecDirect("update docs set data = X'0909', body = 'changed' where id = 2");
  EXPECT_EQ(q->FieldByName("data")->AsString(), "\x01\x01");
  q->Next();
  EXPECT_EQ(q->FieldByName("data")->AsString(), "\x09\x09");
  EXPECT_EQ(q->FieldByName("body")->AsString(), "changed");
  q->Next();
  EXPECT_TRUE(q->FieldByName("data")->IsNull());
  EXPECT_EQ(q->FieldByName("title")->AsString(), "c");
}

TEST_P(DeferredBlobTest, RowsThatCannotBeFoundAgainKeepTheirBlobsFromTheOpen) {
  for (const char* sql : {"select id, data from loose",                       // no primary key
                          "select title, data from docs where id = 1",        // key not selected
                          "select id, data as payload from docs where id = 1",  // renamed column
                          "select d.id, d.data from docs d join loose l on l.id = d.id"}) {
    auto q = Opened(sql);
    Db().ExecDirect("update docs set data = X'0707'; update loose set data = X'0707'");
    EXPECT_EQ(q->Fields(1)->AsString(), "\x01\x01") << sql;
    Db().ExecDirect("update docs set data = X'0101' where id = 1; update loose set data = X'0101'");
  }
}

TEST_P(DeferredBlobTest, LargeValuesAreWrittenAndReadWhole) {
  const std::string big = Pattern(5 * 1024 * 1024 + 3, 1);
  const std::string bigger = Pattern(6 * 1024 * 1024 + 11, 2);
  {
    auto q = Opened("select id, data from docs order by id");
    q->Append();
    q->FieldByName("id")->SetAsInteger(10);
    q->FieldByName("data")->SetAsString(big);
    q->Post();
    EXPECT_EQ(q->FieldByName("data")->AsString(), big);  // read back by its key
  }
  auto q = Opened("select id, title, data from docs where id = 10");
  ASSERT_EQ(q->RecordCount(), 1);
  EXPECT_EQ(q->FieldByName("data")->AsString(), big);
  q->Edit();
  q->FieldByName("data")->SetAsString(bigger);
  q->Post();
  EXPECT_EQ(q->FieldByName("data")->AsString(), bigger);
  EXPECT_EQ(Opened("select data from docs where id = 10")->Fields(0)->AsString(), bigger);
}

TEST_P(DeferredBlobTest, AnUntouchedBlobIsNotRewrittenWhenAnotherColumnIsPosted) {
  auto q = Opened("select id, title, data from docs order by id");
  Db().ExecDirect("update docs set data = X'0505' where id = 1");
  q->Edit();
  q->FieldByName("title")->SetAsString("z");
  q->Post();
  auto check = Opened("select title, data from docs where id = 1");
  EXPECT_EQ(check->Fields(0)->AsString(), "z");
  EXPECT_EQ(check->Fields(1)->AsString(), "\x05\x05");
}

TEST_P(DeferredBlobTest, LocateLooksAtDeferredValuesOfEveryRow) {
  auto q = Opened("select id, body from docs order by id");
  ASSERT_TRUE(q->Locate("body", "THIRD", loCaseInsensitive));
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 3);
  ASSERT_TRUE(q->Locate("body", "sec", loPartialKey));
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 2);
}

TEST_P(DeferredBlobTest, AValueWhoseRowIsGoneCannotBeRead) {
  auto q = Opened("select id, data from docs order by id");
  Db().ExecDirect("delete from docs where id = 1");
  EXPECT_THROW(q->FieldByName("data")->AsString(), EDatabaseError);
}

INSTANTIATE_TEST_SUITE_P(Providers, DeferredBlobTest, ::testing::ValuesIn(AvailableProviders()),
                         ProviderName());

}  // namespace
}  // namespace tersify::testing
