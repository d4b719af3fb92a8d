#include "framework/rtl/component.h"

#include <algorithm>

#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"

namespace tersify {

bool IsValidIdent(const std::string& name) {
  if (name.empty()) return false;
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!alpha(name[0])) return false;
  return std::all_of(name.begin(), name.end(),
                     [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->Insert(this);
}

TComponent::~TComponent() {
  Destroying();
  // Owned components go first, the last made first; each leaves the list itself.
  while (!components_.empty()) {
    TComponent* last = components_.back();
    delete last;  // ownership type: the owner's list holds its components
  }
  if (owner_) owner_->Remove(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->Name(), name)) return c;
  return nullptr;
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsValidIdent(name))
    throw EComponentError(Format("'%s' is not a valid component name", name.c_str()));
  if (owner_ && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other && other != this)
      throw EComponentError(Format("A component named %s already exists", name.c_str()));
  }
  name_ = name;
}

void TComponent::SetDesigning(bool designing) {
  if (designing)
    state_ |= csDesigning;
  else
    state_ &= ~static_cast<uint32_t>(csDesigning);
  for (TComponent* c : components_) c->SetDesigning(designing);
}

void TComponent::BeginLoading() {
  state_ |= csLoading;
  for (TComponent* c : components_) c->BeginLoading();
}

void TComponent::EndLoading() {
  state_ &= ~static_cast<uint32_t>(csLoading);
  for (TComponent* c : components_) c->EndLoading();
  Loaded();
}

void TComponent::Destroying() { state_ |= csDestroying; }

void TComponent::Insert(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
  // A component made for an owner that is being edited in a designer is being
  // edited too, already while it is constructed.
  if (IsDesigning()) component->SetDesigning(true);
}

void TComponent::Remove(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) components_.erase(it);
  component->owner_ = nullptr;
}

}  // namespace tersify
