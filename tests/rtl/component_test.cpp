#include "framework/rtl/component.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/rtl/exception.h"

namespace tersify {
namespace {

// Writes its name into a shared log when loaded and when destroyed, and notes
// whether its owner was already marked as being destroyed then.
class TLoggedComponent : public TComponent {
 public:
  TLoggedComponent(TComponent* owner, std::string label, std::vector<std::string>* log)
      : TComponent(owner), label_(std::move(label)), log_(log) {}
  ~TLoggedComponent() override {
    Destroying();
    std::string entry = "destroy " + label_;
    if (Owner() && Owner()->IsDestroying()) entry += " (owner destroying)";
    log_->push_back(entry);
  }

 protected:
  void Loaded() override {
    log_->push_back("loaded " + label_ + (IsLoading() ? " still loading" : ""));
  }

 private:
  std::string label_;
  std::vector<std::string>* log_;
};

TEST(TComponent, OwnerDestroysOwnedComponentsLastMadeFirst) {
  std::vector<std::string> log;
  {
    auto owner = std::make_unique<TLoggedComponent>(nullptr, "owner", &log);
    MakeComponent<TLoggedComponent>(owner.get(), "a", &log);
    auto* b = MakeComponent<TLoggedComponent>(owner.get(), "b", &log);
    MakeComponent<TLoggedComponent>(b, "b1", &log);
    MakeComponent<TLoggedComponent>(owner.get(), "c", &log);
    EXPECT_EQ(owner->ComponentCount(), 3);
    EXPECT_EQ(b->Owner(), owner.get());
  }
  // The owner's own destructor body runs first; its base then frees the owned
  // components, newest first, and each of them its own in turn.
  const std::vector<std::string> expected = {
      "destroy owner",
      "destroy c (owner destroying)",
      "destroy b (owner destroying)",
      "destroy b1 (owner destroying)",
      "destroy a (owner destroying)",
  };
  EXPECT_EQ(log, expected);
}

TEST(TComponent, ComponentDestroyedFirstLeavesItsOwnersList) {
  std::vector<std::string> log;
  TComponent owner(nullptr);
  auto a = std::make_unique<TLoggedComponent>(&owner, "a", &log);
  MakeComponent<TLoggedComponent>(&owner, "b", &log);
  a->SetName("A");
  a.reset();  // the owner's list gives it up; no second destruction later
  ASSERT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.FindComponent("A"), nullptr);
  EXPECT_EQ(log, std::vector<std::string>{"destroy a"});
  log.clear();
}

class ComponentName : public ::testing::TestWithParam<std::pair<const char*, bool>> {};

TEST_P(ComponentName, IsValidatedAsAnIdentifier) {
  const auto [name, valid] = GetParam();
  TComponent c(nullptr);
  if (valid) {
    EXPECT_NO_THROW(c.SetName(name));
    EXPECT_EQ(c.Name(), name);
  } else {
    try {
      c.SetName(name);
      ADD_FAILURE() << "accepted " << name;
    } catch (const EComponentError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + name + "' is not a valid component name");
    }
    EXPECT_EQ(c.Name(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Names, ComponentName,
                         ::testing::Values(std::make_pair("qTables", true), std::make_pair("_x1", true),
                                           std::make_pair("", true), std::make_pair("A", true),
                                           std::make_pair("1abc", false), std::make_pair("a b", false),
                                           std::make_pair("a-b", false), std::make_pair("a.b", false),
                                           std::make_pair("\xe4x", false)));

TEST(TComponent, NamesAreUniqueAmongTheOwnersComponentsIgnoringCase) {
  TComponent owner(nullptr);
  auto* a = MakeComponent<TComponent>(&owner);
  auto* b = MakeComponent<TComponent>(&owner);
  a->SetName("Query1");
  try {
    b->SetName("QUERY1");
    ADD_FAILURE() << "duplicate accepted";
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), "A component named QUERY1 already exists");
  }
  EXPECT_EQ(b->Name(), "");
  a->SetName("Query1");  // its own name again is fine
  b->SetName("");        // several unnamed ones are fine
  EXPECT_EQ(owner.FindComponent("query1"), a);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  // Different owners may hold the same name.
  TComponent other(nullptr);
  MakeComponent<TComponent>(&other)->SetName("Query1");
}

TEST(TComponent, EndLoadingNotifiesOwnedComponentsThenTheOwner) {
  std::vector<std::string> log;
  TLoggedComponent form(nullptr, "form", &log);
  MakeComponent<TLoggedComponent>(&form, "grid", &log);
  MakeComponent<TLoggedComponent>(&form, "query", &log);
  form.BeginLoading();
  EXPECT_TRUE(form.IsLoading());
  EXPECT_TRUE(form.Components(1)->IsLoading());
  EXPECT_TRUE(log.empty());
  form.EndLoading();
  EXPECT_FALSE(form.IsLoading());
  const std::vector<std::string> expected = {"loaded grid", "loaded query", "loaded form"};
  EXPECT_EQ(log, expected);
}

TEST(TComponent, DesigningReachesOwnedComponentsAndTagIsKept) {
  TComponent owner(nullptr);
  auto* child = MakeComponent<TComponent>(&owner);
  owner.SetDesigning(true);
  EXPECT_TRUE(child->IsDesigning());
  EXPECT_TRUE(child->ComponentState() & csDesigning);
  owner.SetDesigning(false);
  EXPECT_FALSE(child->IsDesigning());
  child->SetTag(48);
  EXPECT_EQ(child->Tag() & 16, 16);
  EXPECT_THROW(owner.Components(5), std::out_of_range);
}

TEST(TObject, ClassNameIsTheDynamicClassWithoutNamespace) {
  std::vector<std::string> log;
  std::unique_ptr<TComponent> c = std::make_unique<TLoggedComponent>(nullptr, "x", &log);
  EXPECT_EQ(c->ClassName(), "TLoggedComponent");
  EXPECT_EQ(TComponent(nullptr).ClassName(), "TComponent");
  EXPECT_EQ(EStreamError("x").ClassName(), "EStreamError");
}

TEST(Format, FormatsLikePrintf) {
  EXPECT_EQ(Format("Field %s from table %s can't be compressed", "f", "t"),
            "Field f from table t can't be compressed");
  EXPECT_EQ(Format("%d records", 42), "42 records");
  EXPECT_EQ(Format("%s", ""), "");
  EXPECT_EQ(Format("%s", std::string(5000, 'x').c_str()).size(), 5000u);
}

}  // namespace
}  // namespace tersify
