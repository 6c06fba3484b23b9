#include "TodoItem.h"

#include "Console.h"
#include "DBManager.h"
#include "TextEquality.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <string>

namespace {

// The standard JSON escapes plus "\/", everything outside ASCII left as raw
// UTF-8. nlohmann's dump() never escapes "/", so the text is written by hand.
void appendJsonString(std::string &out, const QByteArray &utf8)
{
    static const char hexDigits[] = "0123456789abcdef";
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hexDigits[byte >> 4];
                out += hexDigits[byte & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// Only the bare 8-4-4-4-12 form; QUuid alone would also take braces.
bool isUuidText(const std::string &text)
{
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

const nlohmann::ordered_json &requireKey(const nlohmann::ordered_json &object, const char *key, size_t index)
{
    const auto found = object.find(key);
    if (found == object.end())
        throw TodoDecodeError("No value for key \"" + std::string(key) + "\" at index " + std::to_string(index));
    return *found;
}

[[noreturn]] void throwTypeMismatch(const char *key, const char *expected, size_t index)
{
    throw TodoDecodeError("Expected " + std::string(expected) + " for key \"" + key + "\" at index "
                          + std::to_string(index));
}

} // namespace

QByteArray encodeTodoItems(const QList<TodoItem> &items)
{
    std::string out = "[";
    for (qsizetype i = 0; i < items.size(); ++i) {
        const TodoItem &item = items[i];
        if (i > 0)
            out += ',';
        out += "{\"id\":";
        appendJsonString(out, item.id.toString(QUuid::WithoutBraces).toUpper().toUtf8());
        out += ",\"text\":";
        appendJsonString(out, item.text.toUtf8());
        out += ",\"isCompleted\":";
        out += item.isCompleted ? "true" : "false";
        out += '}';
    }
    out += ']';
    return QByteArray::fromStdString(out);
}

QList<TodoItem> decodeTodoItems(const QByteArray &json)
{
    nlohmann::ordered_json document;
    try {
        document = nlohmann::ordered_json::parse(json.begin(), json.end());
    } catch (const nlohmann::json::exception &error) {
        throw TodoDecodeError(error.what());
    }
    if (!document.is_array())
        throw TodoDecodeError("Expected an array of to-do items");

    QList<TodoItem> items;
    items.reserve(static_cast<qsizetype>(document.size()));
    for (size_t index = 0; index < document.size(); ++index) {
        const auto &object = document[index];
        if (!object.is_object())
            throw TodoDecodeError("Expected an object at index " + std::to_string(index));

        const auto &id = requireKey(object, "id", index);
        if (!id.is_string())
            throwTypeMismatch("id", "a string", index);
        const auto &idText = id.get_ref<const std::string &>();
        if (!isUuidText(idText))
            throw TodoDecodeError("Invalid UUID string \"" + idText + "\" at index " + std::to_string(index));

        const auto &text = requireKey(object, "text", index);
        if (!text.is_string())
            throwTypeMismatch("text", "a string", index);

        const auto &isCompleted = requireKey(object, "isCompleted", index);
        if (!isCompleted.is_boolean())
            throwTypeMismatch("isCompleted", "a boolean", index);

        items.append(TodoItem{QUuid::fromString(QLatin1String(idText.data(), qsizetype(idText.size()))),
                              QString::fromStdString(text.get_ref<const std::string &>()),
                              isCompleted.get<bool>()});
    }
    return items;
}

bool compareTodoItems(const QByteArray &a, const QByteArray &b)
{
    QList<TodoItem> first;
    QList<TodoItem> second;
    try {
        first = decodeTodoItems(a);
        second = decodeTodoItems(b);
    } catch (const TodoDecodeError &error) {
        printLine(QStringLiteral("Error comparing TodoItems: ") + errorDescription(error));
        return false;
    }
    if (first.size() != second.size())
        return false;
    for (qsizetype i = 0; i < first.size(); ++i) {
        if (first[i].id != second[i].id || !sameText(first[i].text, second[i].text)
            || first[i].isCompleted != second[i].isCompleted)
            return false;
    }
    return true;
}
