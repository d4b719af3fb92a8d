#pragma once
// Method events: a handler is an (object, code) pair. The code part can be
// compared on its own ("is this handler the NumericSetText of any dataset?"),
// and a handler counts as assigned when its code part is set.

#include <utility>

namespace tersify {

template <class Signature>
class TMethod;

template <class R, class... Args>
class TMethod<R(Args...)> {
 public:
  using Thunk = R (*)(void*, Args...);

  TMethod() = default;

  // Binds member function Member of *object: TMethod<void(TObject*)>::Bind<&T::OnX>(this).
  template <auto Member, class C>
  static TMethod Bind(C* object) {
    return TMethod(object, &Invoke<Member, C>);
  }

  // Binds a callable object (a lambda kept alive by the caller).
  template <class F>
  static TMethod Of(F& callable) {
    return TMethod(&callable, &InvokeCallable<F>);
  }

  // The code part of a binding of Member, to compare with Code().
  template <auto Member, class C>
  static const void* CodeOf() {
    return reinterpret_cast<const void*>(&Invoke<Member, C>);
  }

  bool Assigned() const { return code_ != nullptr; }
  explicit operator bool() const { return Assigned(); }
  const void* Code() const { return reinterpret_cast<const void*>(code_); }
  void* Data() const { return data_; }
  void Clear() { *this = TMethod(); }

  R operator()(Args... args) const { return code_(data_, std::forward<Args>(args)...); }

  friend bool operator==(const TMethod& a, const TMethod& b) {
    return a.code_ == b.code_ && a.data_ == b.data_;
  }

 private:
  TMethod(void* data, Thunk code) : data_(data), code_(code) {}

  template <auto Member, class C>
  static R Invoke(void* data, Args... args) {
    return (static_cast<C*>(data)->*Member)(std::forward<Args>(args)...);
  }
  template <class F>
  static R InvokeCallable(void* data, Args... args) {
    return (*static_cast<F*>(data))(std::forward<Args>(args)...);
  }

  void* data_ = nullptr;
  Thunk code_ = nullptr;
};

class TObject;
using TNotifyEvent = TMethod<void(TObject* sender)>;

}  // namespace tersify
