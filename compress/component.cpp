#include "compress/component.h"

#include <algorithm>

namespace vorn {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->owned_.push_back(this);
}

TComponent::~TComponent() {
    // Each owned component unlinks itself from owned_ as it goes.
    while (!owned_.empty()) delete owned_.back();
    if (owner_) std::erase(owner_->owned_, this);
}

}  // namespace vorn
