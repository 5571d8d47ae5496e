#pragma once

// TComponent: the framework's named, owned object. Datasets, data sources,
// database and session components derive from it. An owner keeps a list of
// the components it owns and destroys them (the last first) when it is
// destroyed; a component destroyed on its own leaves its owner's list.
// Owned components are therefore created with new and never deleted by
// anyone but their owner or themselves.
//
// The component state tells what the component is going through: loading
// its stored form (csLoading, csReading; Loaded() runs when it ends),
// running inside a design environment (csDesigning), being destroyed
// (csDestroying).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

using TComponentState = uint8_t;
inline constexpr TComponentState csLoading = 1;
inline constexpr TComponentState csReading = 2;
inline constexpr TComponentState csDesigning = 4;
inline constexpr TComponentState csDestroying = 8;

enum TOperation : uint8_t { opInsert, opRemove };

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  virtual ~TComponent();

  const std::string& Name() const { return FName; }
  // A name another component of the same owner has (compared without case)
  // raises "A component named %s already exists".
  virtual void SetName(std::string name);
  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const { return FComponents.at(index); }
  // The owned component of that name, or nullptr.
  TComponent* FindComponent(std::string_view name) const;

  TComponentState ComponentState() const { return FComponentState; }
  bool Designing() const { return (FComponentState & csDesigning) != 0; }
  // Marks this component and those it owns as running in a design
  // environment, or not.
  void SetDesigning(bool value);
  // Loading the stored form: BeginLoading sets csLoading and csReading on
  // this component and those it owns; EndLoading clears them and calls
  // Loaded on each.
  void BeginLoading();
  void EndLoading();
  // Sets csDestroying; a subclass that must let go of something while it
  // still exists overrides it and calls it from its destructor.
  virtual void Destroying();

 protected:
  // After the stored form has been read.
  virtual void Loaded() {}
  // `component` joined or left this component's owner's list (or this
  // component's own list).
  virtual void Notification(TComponent* /*component*/, TOperation /*operation*/) {}

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  std::string FName;
  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  TComponentState FComponentState = 0;
};

}  // namespace orb
