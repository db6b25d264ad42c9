// A small component base: an owner that frees what it owns, a Name and a Tag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

class TComponent {
public:
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }

    std::string Name;
    int32_t Tag = 0;

private:
    TComponent* owner_;
    std::vector<TComponent*> owned_;
};

}  // namespace vorn
