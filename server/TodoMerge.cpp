#include "TodoMerge.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

using nlohmann::ordered_json;

namespace {

struct TodoList {
    std::vector<std::string> order;
    std::unordered_map<std::string, ordered_json> items;

    const ordered_json *find(const std::string &id) const
    {
        const auto found = items.find(id);
        return found == items.end() ? nullptr : &found->second;
    }
};

std::optional<TodoList> readList(std::string_view text)
{
    TodoList list;
    if (text.empty())
        return list;
    ordered_json document = ordered_json::parse(text, nullptr, false);
    if (!document.is_array())
        return std::nullopt;
    for (ordered_json &item : document) {
        const auto id = item.is_object() ? item.find("id") : item.end();
        if (!item.is_object() || id == item.end() || !id->is_string())
            return std::nullopt;
        std::string key = id->get<std::string>();
        if (list.items.count(key))
            return std::nullopt;
        list.order.push_back(key);
        list.items.emplace(std::move(key), std::move(item));
    }
    return list;
}

// Each member three ways; a member missing from a copy counts as a value of
// its own, so one side adding it and the other leaving it out takes the added.
std::optional<ordered_json> mergeItem(const ordered_json &base, const ordered_json &current,
                                      const ordered_json &incoming)
{
    ordered_json merged = current;
    std::vector<std::string> keys;
    for (const ordered_json *object : {&current, &incoming, &base}) {
        for (const auto &member : object->items()) {
            if (std::find(keys.begin(), keys.end(), member.key()) == keys.end())
                keys.push_back(member.key());
        }
    }
    const auto valueOf = [](const ordered_json &object, const std::string &key) -> const ordered_json * {
        const auto found = object.find(key);
        return found == object.end() ? nullptr : &*found;
    };
    const auto same = [](const ordered_json *a, const ordered_json *b) { return a == b || (a && b && *a == *b); };
    for (const std::string &key : keys) {
        const ordered_json *b = valueOf(base, key);
        const ordered_json *c = valueOf(current, key);
        const ordered_json *i = valueOf(incoming, key);
        if (same(i, b) || same(i, c))
            continue;
        if (!same(c, b))
            return std::nullopt;
        if (i)
            merged[key] = *i;
        else
            merged.erase(key);
    }
    return merged;
}

// Whether a side moved items that it shares with the base.
bool reordered(const TodoList &base, const TodoList &side)
{
    std::vector<const std::string *> inBase;
    std::vector<const std::string *> inSide;
    for (const std::string &id : base.order) {
        if (side.find(id))
            inBase.push_back(&id);
    }
    for (const std::string &id : side.order) {
        if (base.find(id))
            inSide.push_back(&id);
    }
    return !std::equal(inBase.begin(), inBase.end(), inSide.begin(), inSide.end(),
                       [](const std::string *a, const std::string *b) { return *a == *b; });
}

// The client's own form: the standard escapes plus "\/", everything outside
// ASCII as raw UTF-8, which is nlohmann's form with "/" escaped too (a "/" in
// its output is always the character itself).
void appendString(std::string &out, const std::string &text)
{
    const std::string plain = ordered_json(text).dump(-1, ' ', false, ordered_json::error_handler_t::replace);
    for (const char c : plain) {
        if (c == '/')
            out += '\\';
        out += c;
    }
}

std::string writeList(const std::vector<const ordered_json *> &items)
{
    std::string out = "[";
    for (const ordered_json *item : items) {
        if (out.size() > 1)
            out += ',';
        out += '{';
        bool first = true;
        for (const auto &member : item->items()) {
            if (!first)
                out += ',';
            first = false;
            appendString(out, member.key());
            out += ':';
            if (member.value().is_string())
                appendString(out, member.value().get_ref<const std::string &>());
            else
                out += member.value().dump(-1, ' ', false, ordered_json::error_handler_t::replace);
        }
        out += '}';
    }
    out += ']';
    return out;
}

bool sameList(const std::vector<std::string> &order, const std::unordered_map<std::string, ordered_json> &items,
              const TodoList &side)
{
    if (order != side.order)
        return false;
    return std::all_of(order.begin(), order.end(),
                       [&](const std::string &id) { return items.at(id) == *side.find(id); });
}

} // namespace

std::optional<std::string> mergeTodoLists(std::string_view baseText, std::string_view currentText,
                                          std::string_view incomingText)
{
    const std::optional<TodoList> base = readList(baseText);
    const std::optional<TodoList> current = readList(currentText);
    const std::optional<TodoList> incoming = readList(incomingText);
    if (!base || !current || !incoming)
        return std::nullopt;

    static const ordered_json absent = ordered_json::object();
    std::unordered_map<std::string, ordered_json> kept;
    std::vector<const std::string *> ids;
    for (const TodoList *list : {&*current, &*incoming, &*base}) {
        for (const std::string &id : list->order)
            ids.push_back(&id);
    }
    for (const std::string *id : ids) {
        if (kept.count(*id))
            continue;
        const ordered_json *b = base->find(*id);
        const ordered_json *c = current->find(*id);
        const ordered_json *i = incoming->find(*id);
        if (!c && !i)
            continue; // deleted on both sides
        if (!c || !i) {
            // Deleted on one side: it goes unless the other side changed it.
            const ordered_json *survivor = c ? c : i;
            if (!b || *survivor != *b)
                kept.emplace(*id, *survivor);
            continue;
        }
        std::optional<ordered_json> merged = mergeItem(b ? *b : absent, *c, *i);
        if (!merged)
            return std::nullopt;
        kept.emplace(*id, std::move(*merged));
    }

    // The side that moved items gives the order; the other side's items that
    // it lacks follow the item they came after there.
    const bool incomingLeads = !reordered(*base, *current) && reordered(*base, *incoming);
    const TodoList &leading = incomingLeads ? *incoming : *current;
    const TodoList &following = incomingLeads ? *current : *incoming;
    std::vector<std::string> order;
    std::unordered_set<std::string> placed;
    for (const std::string &id : leading.order) {
        if (kept.count(id) && placed.insert(id).second)
            order.push_back(id);
    }
    std::size_t insertAt = 0;
    for (const std::string &id : following.order) {
        if (!kept.count(id))
            continue;
        if (placed.insert(id).second) {
            order.insert(order.begin() + std::ptrdiff_t(insertAt), id);
            ++insertAt;
        } else {
            insertAt = std::size_t(std::find(order.begin(), order.end(), id) - order.begin()) + 1;
        }
    }
    // Items only the base still orders: none are kept, as both sides lack them.

    if (sameList(order, kept, *current))
        return std::string(currentText);
    if (sameList(order, kept, *incoming))
        return std::string(incomingText);
    std::vector<const ordered_json *> items;
    items.reserve(order.size());
    for (const std::string &id : order)
        items.push_back(&kept.at(id));
    return writeList(items);
}
