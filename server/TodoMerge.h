#pragma once

#include <optional>
#include <string>
#include <string_view>

// Merges three copies of a to-do list (a JSON array of objects keyed by "id")
// item by item: each side's changes to an item's members are kept, items added
// on either side are kept, and an item goes when one side deleted it and the
// other left it alone. An item edited on one side and deleted on the other
// stays, so no typed words go. The result keeps the order of the side that
// reordered (the current one when both did), with the other side's new items
// after the item they followed there (first where they came first).
//
// Returns nothing when both sides changed one member of one item differently,
// or when a copy is not such a list (empty text counts as an empty list).
std::optional<std::string> mergeTodoLists(std::string_view base, std::string_view current,
                                          std::string_view incoming);
