#pragma once
// Components: objects with an owner, a name and a tag. An owner destroys the
// components it owns when it is destroyed; a component destroyed earlier leaves
// its owner's list. Components made without an owner belong to whoever made
// them (hold them in a std::unique_ptr); components made with an owner are made
// through MakeComponent and belong to the owner.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/rtl/object.h"

namespace tersify {

enum TComponentStateFlag : uint32_t {
  csLoading = 1u << 0,
  csDesigning = 1u << 1,
  csDestroying = 1u << 2,
};

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<size_t>(index)); }
  TComponent* FindComponent(const std::string& name) const;

  const std::string& Name() const { return name_; }
  // Validates the name (an identifier, or empty) and its uniqueness among the
  // owner's components; raises EComponentError otherwise.
  virtual void SetName(const std::string& name);

  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }

  uint32_t ComponentState() const { return state_; }
  bool IsLoading() const { return state_ & csLoading; }
  bool IsDesigning() const { return state_ & csDesigning; }
  bool IsDestroying() const { return state_ & csDestroying; }
  void SetDesigning(bool designing);

  // Form loading: BeginLoading marks this component and the ones it owns as being
  // loaded; EndLoading clears the mark and sends each the end-of-loading notification.
  void BeginLoading();
  void EndLoading();

  // The before-destruction notification: marks the component as being destroyed.
  // Destructors of derived classes call it first.
  void Destroying();

 protected:
  // The end-of-loading notification.
  virtual void Loaded() {}

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;  // owned
  std::string name_;
  int tag_ = 0;
  uint32_t state_ = 0;
};

// Creates a component owned by owner (not null); the owner destroys it.
template <class T, class... Args>
T* MakeComponent(TComponent* owner, Args&&... args) {
  auto component = std::make_unique<T>(owner, std::forward<Args>(args)...);
  return component.release();  // now held by the owner's list
}

bool IsValidIdent(const std::string& name);

}  // namespace tersify
