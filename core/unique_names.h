// Names in the order they were first added, each once, and whether each has been visited:
// the archives a pass may move. The
// lookup table holds small indices, not copies, so ten thousand names cost little memory
// next to the map they point into.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace lorvex {

class UniqueNames {
public:
    void Clear() {
        names_.clear();
        visited_.clear();
        slots_.assign(kFirstRoom, 0);
    }

    // Adds `name` (which must outlive this list); false when it is there already.
    bool Add(std::string_view name) {
        if ((names_.size() + 1) * 2 > slots_.size()) {
            Grow();
        }
        std::uint32_t& slot = SlotOf(name);
        if (slot != 0) {
            return false;
        }
        names_.push_back(name);
        visited_.push_back(false);
        slot = static_cast<std::uint32_t>(names_.size());
        return true;
    }

    // True the first time `name`, one of the names added, is visited; false after that and
    // for a name never added.
    bool Visit(std::string_view name) {
        const std::uint32_t slot = SlotOf(name);
        if (slot == 0 || visited_[slot - 1]) {
            return false;
        }
        visited_[slot - 1] = true;
        return true;
    }

    const std::vector<std::string_view>& Names() const { return names_; }

private:
    static constexpr std::size_t kFirstRoom = 64;

    // The slot that holds `name` (1 + its index), or the empty one (0) where it would go.
    std::uint32_t& SlotOf(std::string_view name) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = std::hash<std::string_view>()(name) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == 0 || names_[slots_[i] - 1] == name) {
                return slots_[i];
            }
        }
    }

    void Grow() {
        slots_.assign(std::max(kFirstRoom, slots_.size() * 2), 0);
        for (std::size_t i = 0; i < names_.size(); ++i) {
            SlotOf(names_[i]) = static_cast<std::uint32_t>(i + 1);
        }
    }

    std::vector<std::string_view> names_;
    std::vector<bool> visited_;
    std::vector<std::uint32_t> slots_ = std::vector<std::uint32_t>(kFirstRoom, 0);
};

}  // namespace lorvex
