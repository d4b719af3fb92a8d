#include "framework/rtl/method.h"

#include <gtest/gtest.h>

#include "framework/rtl/object.h"

namespace tersify {
namespace {

class TListener : public TObject {
 public:
  void OnChange(TObject* sender) { last = sender, ++calls; }
  void OnOther(TObject*) { ++calls; }
  int Add(int a, int b) { return a + b + bias; }
  TObject* last = nullptr;
  int calls = 0;
  int bias = 0;
};

class TOtherListener : public TListener {};

TEST(TMethod, UnassignedUntilBoundAndAfterClear) {
  TNotifyEvent e;
  EXPECT_FALSE(e.Assigned());
  EXPECT_FALSE(static_cast<bool>(e));
  EXPECT_EQ(e.Code(), nullptr);
  TListener l;
  e = TNotifyEvent::Bind<&TListener::OnChange>(&l);
  EXPECT_TRUE(e.Assigned());
  EXPECT_EQ(e.Data(), &l);
  e.Clear();
  EXPECT_FALSE(e.Assigned());
  EXPECT_EQ(e.Data(), nullptr);
}

TEST(TMethod, CallsTheBoundObjectsMember) {
  TListener a, b;
  TObject sender;
  TNotifyEvent e = TNotifyEvent::Bind<&TListener::OnChange>(&b);
  e(&sender);
  EXPECT_EQ(b.calls, 1);
  EXPECT_EQ(b.last, &sender);
  EXPECT_EQ(a.calls, 0);
  b.bias = 10;
  auto add = TMethod<int(int, int)>::Bind<&TListener::Add>(&b);
  EXPECT_EQ(add(1, 2), 13);
}

TEST(TMethod, CodeComparesTheMemberWhateverTheObject) {
  TListener a, b;
  const auto onA = TNotifyEvent::Bind<&TListener::OnChange>(&a);
  const auto onB = TNotifyEvent::Bind<&TListener::OnChange>(&b);
  const auto otherA = TNotifyEvent::Bind<&TListener::OnOther>(&a);
  // Same member on two objects: same code, different handlers.
  EXPECT_EQ(onA.Code(), onB.Code());
  EXPECT_FALSE(onA == onB);
  EXPECT_TRUE(onA == TNotifyEvent::Bind<&TListener::OnChange>(&a));
  // Another member: other code.
  EXPECT_NE(onA.Code(), otherA.Code());
  EXPECT_FALSE(onA == otherA);
  // "Is this handler's code OnChange of any listener?"
  const void* code = TNotifyEvent::CodeOf<&TListener::OnChange, TListener>();
  EXPECT_EQ(onB.Code(), code);
  EXPECT_NE(otherA.Code(), code);
}

TEST(TMethod, BindsACallableKeptAliveByTheCaller) {
  int seen = 0;
  auto handler = [&seen](TObject*) { ++seen; };
  TNotifyEvent e = TNotifyEvent::Of(handler);
  e(nullptr);
  e(nullptr);
  EXPECT_EQ(seen, 2);
  EXPECT_EQ(e.Data(), &handler);
}

}  // namespace
}  // namespace tersify
