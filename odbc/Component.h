// An object with an optional owner that frees it.
//
// Connections and statements may be handed to an owner (a window, a reader)
// which deletes them when it is deleted itself; a component deleted first
// leaves its owner's list on the way out, so nothing is freed twice.
#pragma once

#include <algorithm>
#include <vector>

namespace zo {

class TComponent {
 public:
  explicit TComponent(TComponent* AOwner = nullptr) : FOwner(AOwner) {
    if (FOwner) FOwner->FComponents.push_back(this);
  }
  virtual ~TComponent() {
    // The last one first, each leaving the list in its own destructor.
    while (!FComponents.empty()) delete FComponents.back();
    if (FOwner) {
      auto& list = FOwner->FComponents;
      list.erase(std::find(list.begin(), list.end(), this));
    }
  }
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }

 private:
  TComponent* FOwner;
  std::vector<TComponent*> FComponents;
};

}  // namespace zo
