#include "FastReply.h"

#include <simdjson.h>

#include <array>
#include <limits>
#include <string_view>
#include <vector>

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// A string member's bytes, or nothing. simdjson has checked the document's
// UTF-8 and refuses lone surrogates in escapes, as the tree parser does.
std::optional<std::string_view> textOf(element value)
{
    std::string_view text;
    if (value.type() != element_type::STRING || value.get_string().get(text) != simdjson::SUCCESS)
        return std::nullopt;
    return text;
}

// Integers only, within the signed 64-bit range; a double is left to the
// tree parser, which decides.
std::optional<int64_t> integerOf(element value)
{
    if (value.type() == element_type::INT64)
        return int64_t(value);
    if (value.type() == element_type::UINT64) {
        const uint64_t raw = value;
        if (raw <= uint64_t(std::numeric_limits<int64_t>::max()))
            return int64_t(raw);
    }
    return std::nullopt;
}

QString qstringOf(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

enum Member { noteid, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite, filelink, rev,
              memberCount };
constexpr std::array<std::string_view, memberCount> kMembers = {
        "noteid", "content", "type", "isdeleted", "createdtime", "lastmodifiedtime", "title", "isfavorite",
        "filelink", "rev"};
constexpr std::array kIntegers = {type, isdeleted, createdtime, lastmodifiedtime, isfavorite};
constexpr std::array kTexts = {noteid, content, title, filelink};

// A note's members, read and checked; nothing for a note the tree parser
// must judge.
struct Members {
    std::array<int64_t, memberCount> integers{};
    std::array<std::string_view, memberCount> texts;
    std::optional<int64_t> rev;
};

std::optional<Members> membersOf(element value)
{
    simdjson::dom::object object;
    if (value.get_object().get(object) != simdjson::SUCCESS)
        return std::nullopt;
    std::array<std::optional<element>, memberCount> found;
    for (const auto field : object) {
        for (int m = 0; m < memberCount; ++m) {
            if (field.key == kMembers[m]) {
                // The tree parser keeps the last of repeated members.
                if (found[m])
                    return std::nullopt;
                found[m] = field.value;
                break;
            }
        }
    }
    Members members;
    for (Member m : kIntegers) {
        const auto number = found[m] ? integerOf(*found[m]) : std::nullopt;
        if (!number)
            return std::nullopt;
        members.integers[m] = *number;
    }
    for (Member m : kTexts) {
        const auto text = found[m] ? textOf(*found[m]) : std::nullopt;
        if (!text)
            return std::nullopt;
        members.texts[m] = *text;
    }
    if (found[rev]) {
        members.rev = integerOf(*found[rev]);
        if (!members.rev || *members.rev < 1)
            return std::nullopt;
    }
    return members;
}

} // namespace

struct FastReply::Document {
    simdjson::dom::parser parser;
    std::vector<element> notes;
};

FastReply::FastReply(const QByteArray &body) : m_document(std::make_unique<Document>())
{
    element root;
    // A body with room after its bytes is read in place; another is copied
    // into a padded buffer first.
    const bool padded = body.capacity() - body.size() >= qsizetype(simdjson::SIMDJSON_PADDING);
    if (m_document->parser.parse(body.constData(), size_t(body.size()), !padded).get(root) != simdjson::SUCCESS)
        return;
    simdjson::dom::object object;
    if (root.get_object().get(object) != simdjson::SUCCESS)
        return;
    std::optional<element> status, message, notes;
    for (const auto field : object) {
        std::optional<element> *slot = field.key == "status" ? &status
                : field.key == "msg"                        ? &message
                : field.key == "notes"                      ? &notes
                                                            : nullptr;
        if (!slot)
            continue;
        if (*slot)
            return;
        *slot = field.value;
    }
    if (!status || !message)
        return;
    const auto code = integerOf(*status);
    const auto text = textOf(*message);
    if (!code || !text || (*code != 601 && *code != 602))
        return;
    if (*code == 602) {
        simdjson::dom::array array;
        if (!notes || notes->get_array().get(array) != simdjson::SUCCESS)
            return;
        m_document->notes.reserve(array.size());
        for (const element value : array) {
            if (!membersOf(value))
                return;
            m_document->notes.push_back(value);
        }
    }
    m_status = *code;
    m_message = qstringOf(*text);
    m_accepted = true;
}

FastReply::~FastReply() = default;

size_t FastReply::noteCount() const
{
    return m_document->notes.size();
}

FastReply::ServerNote FastReply::note(size_t index) const
{
    const Members members = *membersOf(m_document->notes[index]);
    ServerNote server;
    server.rev = members.rev;
    Note &note = server.note;
    const std::string_view body = members.texts[content];
    note.id = qstringOf(members.texts[noteid]);
    note.content = QByteArray(body.data(), qsizetype(body.size()));
    note.type = members.integers[type];
    note.isdeleted = members.integers[isdeleted] == 1;
    note.createdDate = members.integers[createdtime];
    note.lastModifiedDate = members.integers[lastmodifiedtime];
    note.title = qstringOf(members.texts[title]);
    note.isfavorite = members.integers[isfavorite];
    note.filelink = qstringOf(members.texts[filelink]);
    return server;
}
