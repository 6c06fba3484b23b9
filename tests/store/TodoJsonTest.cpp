#include "ItemType.h"
#include "TodoItem.h"

#include <gtest/gtest.h>

namespace {

const QUuid kId = QUuid::fromString(QStringLiteral("e621e1f8-c36c-495a-93fc-0c247a3e6e5f"));
const std::string kIdText = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";

TEST(ItemTypeTest, RawValuesMapBothWays)
{
    EXPECT_EQ(itemTypeFromRaw(1), ItemType::note);
    EXPECT_EQ(itemTypeFromRaw(2), ItemType::todo);
    for (int64_t raw : {0, 3, -1, 7})
        EXPECT_FALSE(itemTypeFromRaw(raw).has_value()) << raw;
    EXPECT_EQ(rawValue(ItemType::todo), 2);
    EXPECT_EQ(allItemTypes, (std::array<ItemType, 2>{ItemType::note, ItemType::todo}));
}

TEST(TodoJsonTest, EncodesCompactWithEscapedSlashAndUpperCaseId)
{
    const QByteArray json = encodeTodoItems({TodoItem{kId, QStringLiteral("a/b"), false}});
    EXPECT_EQ(json.toStdString(), R"([{"id":")" + kIdText + R"(","text":"a\/b","isCompleted":false}])");
    EXPECT_EQ(encodeTodoItems({}).toStdString(), "[]");
}

struct EscapeCase {
    QString text;
    std::string encoded; // the JSON string as written, quotes included
};

TEST(TodoJsonTest, StringsEscapeAndRoundTrip)
{
    const EscapeCase cases[] = {
        {QStringLiteral("say \"hi\""), R"("say \"hi\"")"},
        {QStringLiteral("back\\slash"), R"("back\\slash")"},
        {QStringLiteral("line\nbreak\ttab\rret"), R"("line\nbreak\ttab\rret")"},
        {QString::fromUtf8("\b\f"), R"("\b\f")"},
        {QString(QChar(0x01)) + QChar(0x1f), R"("\u0001\u001f")"},
        {QString::fromUtf8("caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\x89"),
         "\"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\x89\""},
        {QStringLiteral("</script>"), R"("<\/script>")"},
        {QString(), R"("")"},
    };
    for (const EscapeCase &c : cases) {
        const QList<TodoItem> items{TodoItem{kId, c.text, true}};
        const QByteArray json = encodeTodoItems(items);
        EXPECT_EQ(json.toStdString(), R"([{"id":")" + kIdText + R"(","text":)" + c.encoded + R"(,"isCompleted":true}])");
        const QList<TodoItem> back = decodeTodoItems(json);
        ASSERT_EQ(back.size(), 1);
        EXPECT_EQ(back[0].id, kId);
        EXPECT_EQ(back[0].text, c.text);
        EXPECT_TRUE(back[0].isCompleted);
    }
}

TEST(TodoJsonTest, RejectsAnythingButTheExactForm)
{
    const std::string id = R"("id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F")";
    const std::string inputs[] = {
        "",
        "   ",
        "[",
        "{}",
        "null",
        "[1]",
        "[] []",
        "[{" + id + R"(,"text":"x","isCompleted":0}])",
        "[{" + id + R"(,"text":"x","isCompleted":"false"}])",
        "[{" + id + R"(,"isCompleted":false}])",
        "[{" + id + R"(,"text":5,"isCompleted":false}])",
        "[{" + id + R"(,"Text":"x","isCompleted":false}])",
        "[{" + id + R"(,"text":null,"isCompleted":false}])",
        R"([{"text":"x","isCompleted":false}])",
        R"([{"id":"not-a-uuid","text":"x","isCompleted":false}])",
        R"([{"id":"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}","text":"x","isCompleted":false}])",
        R"([{"id":"E621E1F8C36C495A93FC0C247A3E6E5F","text":"x","isCompleted":false}])",
        R"([{"id":7,"text":"x","isCompleted":false}])",
        // One good item does not rescue a bad one: no partial list.
        "[{" + id + R"(,"text":"x","isCompleted":false},{)" + id + R"(,"text":"y"}])",
        "[{" + id + ",\"text\":\"\xff\",\"isCompleted\":false}]",
    };
    for (const std::string &input : inputs)
        EXPECT_THROW(decodeTodoItems(QByteArray::fromStdString(input)), TodoDecodeError) << input;
}

TEST(TodoJsonTest, AcceptsAnySpellingOfTheSameItems)
{
    struct Case {
        std::string json;
        qsizetype count;
    };
    const Case cases[] = {
        {"[]", 0},
        {" [ ] ", 0},
        {R"([{"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","text":"x","isCompleted":false,"note":1}])", 1},
        {R"([{"isCompleted":false,"id":"E621E1F8-c36c-495A-93FC-0C247A3E6E5F","text":"x"}])", 1},
        {"[\n {\"id\" : \"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\",\n  \"text\":\"\\u0078\", \"isCompleted\":false}\n]", 1},
    };
    for (const Case &c : cases) {
        const QList<TodoItem> items = decodeTodoItems(QByteArray::fromStdString(c.json));
        ASSERT_EQ(items.size(), c.count) << c.json;
        if (c.count == 0)
            continue;
        EXPECT_EQ(items[0].id, kId);
        EXPECT_EQ(items[0].text, QStringLiteral("x"));
        EXPECT_FALSE(items[0].isCompleted);
        // Whatever case came in, the id goes out upper-case.
        EXPECT_NE(encodeTodoItems(items).indexOf(QByteArray::fromStdString(kIdText)), -1);
    }
}

TEST(TodoJsonTest, KeepsListOrder)
{
    const QList<TodoItem> items{TodoItem::makeEmpty(), TodoItem{kId, QStringLiteral("second"), true},
                                TodoItem::makeEmpty()};
    const QList<TodoItem> back = decodeTodoItems(encodeTodoItems(items));
    ASSERT_EQ(back.size(), 3);
    for (qsizetype i = 0; i < 3; ++i) {
        EXPECT_EQ(back[i].id, items[i].id);
        EXPECT_EQ(back[i].text, items[i].text);
        EXPECT_EQ(back[i].isCompleted, items[i].isCompleted);
    }
}

} // namespace
