#include "components/component.h"

#include <algorithm>

#include "components/db_common.h"

namespace orb {

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  FComponentState |= csDestroying;
  while (!FComponents.empty()) {
    TComponent* last = FComponents.back();
    RemoveComponent(last);
    delete last;
  }
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::SetName(std::string name) {
  if (FOwner && !name.empty()) {
    TComponent* other = FOwner->FindComponent(name);
    if (other && other != this) DatabaseErrorFmt("A component named %s already exists", {Ansi(name)});
  }
  FName = std::move(name);
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* component : FComponents)
    if (SameName(component->FName, name)) return component;
  return nullptr;
}

void TComponent::SetDesigning(bool value) {
  if (value)
    FComponentState |= csDesigning;
  else
    FComponentState &= static_cast<TComponentState>(~csDesigning);
  for (TComponent* component : FComponents) component->SetDesigning(value);
}

void TComponent::BeginLoading() {
  FComponentState |= csLoading | csReading;
  for (TComponent* component : FComponents) component->BeginLoading();
}

void TComponent::EndLoading() {
  FComponentState &= static_cast<TComponentState>(~(csLoading | csReading));
  for (TComponent* component : FComponents) component->EndLoading();
  Loaded();
}

void TComponent::Destroying() { FComponentState |= csDestroying; }

void TComponent::InsertComponent(TComponent* component) {
  if (component->FOwner) component->FOwner->RemoveComponent(component);
  component->FOwner = this;
  FComponents.push_back(component);
  for (TComponent* other : FComponents)
    if (other != component) other->Notification(component, opInsert);
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), component), FComponents.end());
  component->FOwner = nullptr;
  if (FComponentState & csDestroying) return;
  for (TComponent* other : FComponents) other->Notification(component, opRemove);
  Notification(component, opRemove);
}

}  // namespace orb
