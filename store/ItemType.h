#pragma once

#include <array>
#include <cstdint>
#include <optional>

enum class ItemType : int64_t {
    note = 1,
    todo = 2,
};

inline constexpr std::array<ItemType, 2> allItemTypes{ItemType::note, ItemType::todo};

constexpr int64_t rawValue(ItemType type) { return static_cast<int64_t>(type); }

// 1 and 2 name a kind of note; every other integer names none.
constexpr std::optional<ItemType> itemTypeFromRaw(int64_t raw)
{
    switch (raw) {
    case 1: return ItemType::note;
    case 2: return ItemType::todo;
    default: return std::nullopt;
    }
}
