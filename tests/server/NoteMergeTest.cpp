// The merge of two copies changed from one base, apart from any store.

#include "NoteMerge.h"
#include "TodoMerge.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>

using nlohmann::ordered_json;

namespace {

const std::optional<std::string> conflict = std::nullopt;

TEST(MergeText, Cases)
{
    struct Case {
        const char *name;
        std::string base, current, incoming;
        std::optional<std::string> merged;
    };
    const std::string five = "one\ntwo\nthree\nfour\nfive\n";
    const Case cases[] = {
        {"changes on lines apart", five, "ONE\ntwo\nthree\nfour\nfive\n", "one\ntwo\nthree\nfour\nFIVE\n",
         "ONE\ntwo\nthree\nfour\nFIVE\n"},
        {"one line changed both ways", five, "one\ntwo\nTHREE\nfour\nfive\n", "one\ntwo\n3\nfour\nfive\n", conflict},
        {"neighbouring lines touch", five, "one\nTWO\nthree\nfour\nfive\n", "one\ntwo\nTHREE\nfour\nfive\n",
         conflict},
        {"the same change on both", five, "one\ntwo\nTHREE\nfour\nfive\n", "one\ntwo\nTHREE\nfour\nfive\n",
         "one\ntwo\nTHREE\nfour\nfive\n"},
        {"lines added at both ends", five, "zero\n" + five, five + "six\n", "zero\n" + five + "six\n"},
        {"a line deleted, another edited", five, "one\ntwo\nthree\nfour\n", "ONE\ntwo\nthree\nfour\nfive\n",
         "ONE\ntwo\nthree\nfour\n"},
        {"empty base, one side writes", "", "", "new text\n", "new text\n"},
        {"empty base, both write", "", "mine\n", "theirs\n", conflict},
        {"everything deleted on one side, kept on the other", five, "", five, ""},
        {"CRLF lines", "a\r\nb\r\nc\r\nd\r\ne\r\n", "A\r\nb\r\nc\r\nd\r\ne\r\n", "a\r\nb\r\nc\r\nd\r\nE\r\n",
         "A\r\nb\r\nc\r\nd\r\nE\r\n"},
        {"bytes that are not UTF-8", "\xff\xfe\nb\nc\nd\n\xc3(\n", "\xff\xfe!\nb\nc\nd\n\xc3(\n",
         "\xff\xfe\nb\nc\nd\n\xc3(?\n", "\xff\xfe!\nb\nc\nd\n\xc3(?\n"},
        {"no newline at the end", "one\ntwo\nthree\nfour\nfive", "ONE\ntwo\nthree\nfour\nfive",
         "one\ntwo\nthree\nfour\nFIVE", "ONE\ntwo\nthree\nfour\nFIVE"},
        {"no newline at the end, both append", "one\ntwo", "one\ntwo\nmine", "one\ntwo\ntheirs", conflict},
        {"a newline added at the end, text at the start", "a\nb\nc\nd", "A\nb\nc\nd", "a\nb\nc\nd\n", "A\nb\nc\nd\n"},
        {"NUL bytes, changed on both", std::string("a\0b\nc\n", 6), std::string("a\0B\nc\n", 6),
         std::string("a\0b\nC\n", 6), conflict},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mergeText(c.base, c.current, c.incoming), c.merged);
        // The merge is the same seen from either side, where the result is clean.
        const std::optional<std::string> swapped = mergeText(c.base, c.incoming, c.current);
        EXPECT_EQ(swapped.has_value(), c.merged.has_value());
    }
}

std::string item(const char *id, const char *text, bool done = false)
{
    return std::string("{\"id\":\"") + id + "\",\"text\":\"" + text + "\",\"isCompleted\":" + (done ? "true" : "false")
        + "}";
}

std::string list(std::initializer_list<std::string> items)
{
    std::string out = "[";
    for (const std::string &i : items)
        out += (out.size() > 1 ? "," : "") + i;
    return out + "]";
}

TEST(MergeTodoLists, Cases)
{
    struct Case {
        const char *name;
        std::string base, current, incoming;
        std::optional<std::string> merged;
    };
    const std::string abc = list({item("A", "milk"), item("B", "bread"), item("C", "eggs")});
    const Case cases[] = {
        {"ticked on one side, edited on the other", abc,
         list({item("A", "milk", true), item("B", "bread"), item("C", "eggs")}),
         list({item("A", "oat milk"), item("B", "bread"), item("C", "eggs")}),
         list({item("A", "oat milk", true), item("B", "bread"), item("C", "eggs")})},
        {"added on both sides, after the item each followed", abc,
         list({item("A", "milk"), item("D", "tea"), item("B", "bread"), item("C", "eggs")}),
         list({item("A", "milk"), item("B", "bread"), item("C", "eggs"), item("E", "jam")}),
         list({item("A", "milk"), item("D", "tea"), item("B", "bread"), item("C", "eggs"), item("E", "jam")})},
        {"added at the start on the other side", abc, abc,
         list({item("Z", "first"), item("A", "milk"), item("B", "bread"), item("C", "eggs")}),
         list({item("Z", "first"), item("A", "milk"), item("B", "bread"), item("C", "eggs")})},
        {"deleted on one side, untouched on the other", abc, list({item("A", "milk"), item("C", "eggs")}),
         list({item("A", "milk", true), item("B", "bread"), item("C", "eggs")}),
         list({item("A", "milk", true), item("C", "eggs")})},
        {"deleted on one side, edited on the other", abc, list({item("A", "milk"), item("C", "eggs")}),
         list({item("A", "milk"), item("B", "rye bread"), item("C", "eggs")}),
         list({item("A", "milk"), item("B", "rye bread"), item("C", "eggs")})},
        {"deleted on both sides", abc, list({item("A", "milk")}), list({item("A", "milk"), item("C", "eggs")}),
         list({item("A", "milk")})},
        {"one text edited both ways", abc, list({item("A", "cow milk"), item("B", "bread"), item("C", "eggs")}),
         list({item("A", "oat milk"), item("B", "bread"), item("C", "eggs")}), conflict},
        {"ticked on both sides", abc, list({item("A", "milk", true), item("B", "bread"), item("C", "eggs")}),
         list({item("A", "milk", true), item("B", "bread"), item("C", "eggs", true)}),
         list({item("A", "milk", true), item("B", "bread"), item("C", "eggs", true)})},
        {"moved on one side, added on the other", abc,
         list({item("A", "milk"), item("B", "bread"), item("C", "eggs"), item("D", "tea")}),
         list({item("C", "eggs"), item("A", "milk"), item("B", "bread")}),
         list({item("C", "eggs"), item("D", "tea"), item("A", "milk"), item("B", "bread")})},
        {"empty base, both add", "", list({item("A", "mine")}), list({item("B", "theirs")}),
         list({item("B", "theirs"), item("A", "mine")})},
        {"the same item added differently", "[]", list({item("A", "mine")}), list({item("A", "theirs")}), conflict},
        {"slashes, quotes and non-ASCII kept in the client's form", abc,
         list({item("A", "a\\/b \\\"q\\\" caf\xc3\xa9"), item("B", "bread"), item("C", "eggs")}),
         list({item("A", "milk"), item("B", "bread"), item("C", "eggs", true)}),
         list({item("A", "a\\/b \\\"q\\\" caf\xc3\xa9"), item("B", "bread"), item("C", "eggs", true)})},
        {"members the service does not know are merged too", "[{\"id\":\"A\",\"text\":\"x\",\"isCompleted\":false}]",
         "[{\"id\":\"A\",\"text\":\"x\",\"isCompleted\":true}]",
         "[{\"id\":\"A\",\"text\":\"x\",\"isCompleted\":false,\"due\":5}]",
         "[{\"id\":\"A\",\"text\":\"x\",\"isCompleted\":true,\"due\":5}]"},
        {"not JSON", abc, abc + "x", list({item("A", "milk")}), conflict},
        {"not an array", abc, "{}", list({item("A", "milk")}), conflict},
        {"an item without an id", abc, list({"{\"text\":\"x\"}"}), list({item("A", "milk")}), conflict},
        {"an identifier twice", abc, list({item("A", "x"), item("A", "y")}), list({item("A", "milk")}), conflict},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mergeTodoLists(c.base, c.current, c.incoming), c.merged);
    }
}

StoredNote note(const std::string &content, int64_t modified)
{
    return StoredNote{"n", content, 1, 0, 100, modified, "", 0, ""};
}

TEST(MergeNotes, MembersMergeOnTheirOwn)
{
    const std::string five = "one\ntwo\nthree\nfour\nfive\n";
    const StoredNote base = note(five, 10);
    struct Case {
        const char *name;
        std::function<void(StoredNote &)> current, incoming;
        std::optional<StoredNote> merged;
    };
    const auto with = [&](std::function<void(StoredNote &)> change) {
        StoredNote n = base;
        change(n);
        return n;
    };
    const Case cases[] = {
        {"favourite on one side, text on the other", [](StoredNote &n) { n.isfavorite = 1; },
         [](StoredNote &n) { n.content = "ONE\ntwo\nthree\nfour\nfive\n"; },
         with([](StoredNote &n) {
             n.isfavorite = 1;
             n.content = "ONE\ntwo\nthree\nfour\nfive\n";
         })},
        {"title and link on one side each", [](StoredNote &n) { n.title = "T"; },
         [](StoredNote &n) { n.filelink = "file:///x"; },
         with([](StoredNote &n) {
             n.title = "T";
             n.filelink = "file:///x";
         })},
        {"the title changed both ways", [](StoredNote &n) { n.title = "T1"; }, [](StoredNote &n) { n.title = "T2"; },
         std::nullopt},
        {"text changed both ways", [](StoredNote &n) { n.content = "mine"; }, [](StoredNote &n) { n.content = "theirs"; },
         std::nullopt},
        {"turned into a to-do list while the text changed", [](StoredNote &n) { n.content += "six\n"; },
         [](StoredNote &n) {
             n.type = todoListType;
             n.content = "[]";
         },
         std::nullopt},
        {"the later change time, the current creation time",
         [](StoredNote &n) {
             n.lastmodifiedtime = 50;
             n.content = "ONE\ntwo\nthree\nfour\nfive\n";
         },
         [](StoredNote &n) {
             n.lastmodifiedtime = 40;
             n.createdtime = 7;
             n.content = "one\ntwo\nthree\nfour\nFIVE\n";
         },
         with([](StoredNote &n) {
             n.lastmodifiedtime = 50;
             n.content = "ONE\ntwo\nthree\nfour\nFIVE\n";
         })},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mergeNotes(base, with(c.current), with(c.incoming)), c.merged);
    }

    // To-do lists merge item by item.
    StoredNote todo = base;
    todo.type = todoListType;
    todo.content = list({item("A", "milk"), item("B", "bread")});
    StoredNote ticked = todo;
    ticked.content = list({item("A", "milk", true), item("B", "bread")});
    StoredNote added = todo;
    added.content = list({item("A", "milk"), item("B", "bread"), item("C", "eggs")});
    const std::optional<StoredNote> merged = mergeNotes(todo, ticked, added);
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->content, list({item("A", "milk", true), item("B", "bread"), item("C", "eggs")}));
}

} // namespace
