#pragma once

#include "StoredNote.h"

#include <optional>
#include <string>
#include <string_view>

// Line-wise three-way merge of plain text; nothing where the two sides'
// changes overlap or touch.
std::optional<std::string> mergeText(std::string_view base, std::string_view current, std::string_view incoming);

// Merges two copies of a note changed from one base version: each member
// three ways (a side that left it as in the base takes the other's value),
// the content line by line, or item by item for to-do lists. The change time
// is the later of the two, the creation time the current copy's. Returns
// nothing where both sides changed the same thing differently.
std::optional<StoredNote> mergeNotes(const StoredNote &base, const StoredNote &current, const StoredNote &incoming);

// Machines keep the creation time they first saw, so it may differ between
// copies of one version.
bool sameVersion(StoredNote a, const StoredNote &b);

constexpr int64_t todoListType = 2;
