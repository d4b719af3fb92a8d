// Stored procedures against every provider: parameters read from the server,
// output values written back, and procedures that return rows.

#include "client/providers/sqlite/sqlite_registry.h"
#include "tests/client/client_fixture.h"

namespace tersify::testing {
namespace {

using providers::ParamDirection;

class StoredProcTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    Db().ExecDirect("create table t (id integer primary key, name varchar(20));"
                    "insert into t values (1, 'one'); insert into t values (2, 'two');");
    calc_ = providers::RegisterProcedure(
        "pCalc",
        {{"a", ftInteger, ParamDirection::Input},
         {"b", ftInteger, ParamDirection::InputOutput},
         {"c", ftString, ParamDirection::Output}},
        [](providers::Provider&, std::vector<Variant>& args) {
          args[1] = Variant(args[0].AsInteger() + args[1].AsInteger());
          args[2] = Variant(std::string("sum"));
          return std::unique_ptr<providers::Cursor>();
        });
    list_ = providers::RegisterProcedure(
        "pList", {{"min", ftInteger, ParamDirection::Input}},
        [](providers::Provider& p, std::vector<Variant>& args) {
          return p.Execute("select id, name from t where id >= ? order by id", {args[0]});
        });
  }

  std::unique_ptr<TMSStoredProc> Proc(const std::string& name) {
    auto proc = std::make_unique<TMSStoredProc>(nullptr);
    proc->SetConnection(&Connection());
    proc->SetStoredProcName(name);
    return proc;
  }

  providers::Registration calc_, list_;
};

TEST_P(StoredProcTest, ParametersComeFromTheServerWithTheirDirections) {
  Connection().Open();
  auto proc = Proc("pCalc");
  ASSERT_EQ(proc->Params().Count(), 3);
  EXPECT_EQ(proc->Params()[0].Name(), "a");
  EXPECT_EQ(proc->Params()[0].ParamType(), TParamType::ptInput);
  EXPECT_EQ(proc->Params()[1].ParamType(), TParamType::ptInputOutput);
  EXPECT_EQ(proc->Params()[2].ParamType(), TParamType::ptOutput);
  const TFieldType c_type = proc->Params()[2].DataType();
  EXPECT_TRUE(c_type == ftString || c_type == ftWideString) << FieldTypeName(c_type);
}

TEST_P(StoredProcTest, ExecProcWritesOutputValuesBack) {
  auto proc = Proc("pCalc");  // not connected yet: read when the call needs them
  EXPECT_EQ(proc->Params().Count(), 0);
  proc->PrepareSQL();
  proc->ParamByName("a").SetValue(2);
  proc->ParamByName("b").SetValue(3);
  proc->ExecProc();
  EXPECT_EQ(proc->ParamByName("b").AsInteger(), 5);
  EXPECT_EQ(proc->ParamByName("c").AsString(), "sum");
  EXPECT_EQ(proc->ParamByName("a").AsInteger(), 2);
}

TEST_P(StoredProcTest, AProcedureThatReturnsRowsOpens) {
  auto proc = Proc("pList");
  proc->PrepareSQL();
  proc->ParamByName("min").SetValue(2);
  proc->Open();
  ASSERT_EQ(proc->RecordCount(), 1);
  EXPECT_EQ(proc->FieldByName("name")->AsString(), "two");
}

TEST_P(StoredProcTest, AnUnknownProcedureIsTheServersError) {
  Connection().Open();
  try {
    auto proc = Proc("pNoSuchProc");
    proc->ExecProc();
    ADD_FAILURE() << "the call must fail";
  } catch (const EMSError& e) {
    EXPECT_NE(e.Message().find("pNoSuchProc"), std::string::npos) << e.Message();
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, StoredProcTest, ::testing::ValuesIn(AvailableProviders()),
                         ProviderName());

}  // namespace
}  // namespace tersify::testing
