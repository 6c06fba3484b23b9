#include "SyncRequestReader.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_set>

using nlohmann::ordered_json;

namespace {

enum class Kind { String, Integer };

struct Member {
    const char *name;
    Kind kind;
};

// The nine members of a note object, in the order StoredNote holds them.
constexpr std::array<Member, 9> noteMembers = {{
    {"noteid", Kind::String},
    {"content", Kind::String},
    {"type", Kind::Integer},
    {"isdeleted", Kind::Integer},
    {"createdtime", Kind::Integer},
    {"lastmodifiedtime", Kind::Integer},
    {"title", Kind::String},
    {"isfavorite", Kind::Integer},
    {"filelink", Kind::String},
}};

std::string *stringField(StoredNote &note, std::size_t member)
{
    switch (member) {
    case 0: return &note.noteid;
    case 1: return &note.content;
    case 6: return &note.title;
    case 8: return &note.filelink;
    default: return nullptr;
    }
}

int64_t *integerField(StoredNote &note, std::size_t member)
{
    switch (member) {
    case 2: return &note.type;
    case 3: return &note.isdeleted;
    case 4: return &note.createdtime;
    case 5: return &note.lastmodifiedtime;
    case 7: return &note.isfavorite;
    default: return nullptr;
    }
}

std::string lowerAscii(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

// Builds the request while the parser walks the body. Each event either fits
// the request's shape or stops the parse at once with a message.
class RequestBuilder {
public:
    using number_integer_t = ordered_json::number_integer_t;
    using number_unsigned_t = ordered_json::number_unsigned_t;
    using number_float_t = ordered_json::number_float_t;
    using string_t = ordered_json::string_t;
    using binary_t = ordered_json::binary_t;

    bool null() { return scalar(std::nullopt, nullptr); }
    bool boolean(bool) { return scalar(std::nullopt, nullptr); }
    bool number_integer(number_integer_t value) { return scalar(int64_t(value), nullptr); }
    bool number_unsigned(number_unsigned_t value)
    {
        if (value > uint64_t(std::numeric_limits<int64_t>::max()))
            return scalar(std::nullopt, nullptr);
        return scalar(int64_t(value), nullptr);
    }
    bool number_float(number_float_t, const string_t &) { return scalar(std::nullopt, nullptr); }
    bool string(string_t &value) { return scalar(std::nullopt, &value); }
    bool binary(binary_t &) { return scalar(std::nullopt, nullptr); }

    bool start_object(std::size_t) { return open(true); }
    bool start_array(std::size_t) { return open(false); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(string_t &name)
    {
        if (m_skipDepth > 0)
            return true;
        if (m_where == Where::Root) {
            m_rootMember = name == "email" ? RootMember::Email
                : name == "ip"             ? RootMember::Ip
                : name == "notes"          ? RootMember::Notes
                                           : RootMember::Other;
        } else if (m_where == Where::Note) {
            const auto known = std::find_if(noteMembers.begin(), noteMembers.end(),
                                            [&](const Member &member) { return name == member.name; });
            m_noteMember = std::size_t(known - noteMembers.begin());
            m_atRev = name == "rev";
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &error)
    {
        // The first complaint stands; the parser reports its own after a stop.
        if (m_error.empty())
            m_error = std::string("Malformed JSON: ") + error.what();
        return false;
    }

    const std::string &error() const { return m_error; }

    SyncRequest finish()
    {
        if (!m_email)
            throw BadRequest("\"email\" must be a string");
        if (m_email->empty())
            throw BadRequest("\"email\" must not be empty");
        if (!m_hasIp)
            throw BadRequest("\"ip\" must be a string");
        if (!m_hasNotes)
            throw BadRequest("\"notes\" must be an array");
        m_request.email = lowerAscii(std::move(*m_email));
        return std::move(m_request);
    }

private:
    enum class Where { Start, Root, Notes, Note, End };
    enum class RootMember { Email, Ip, Notes, Other };

    bool fail(std::string message)
    {
        m_error = std::move(message);
        return false;
    }
    std::string noteWhere() const { return "notes[" + std::to_string(m_request.notes.size()) + "]: "; }
    std::string memberComplaint() const
    {
        const Member &member = noteMembers[m_noteMember];
        return noteWhere() + "\"" + member.name + "\" must be "
            + (member.kind == Kind::String ? "a string" : "a 64-bit integer");
    }

    std::string revComplaint() const { return noteWhere() + "\"rev\" must be an integer of at least 1"; }

    // A value that is not a container; `text` is set for a string.
    bool scalar(std::optional<int64_t> integer, string_t *text)
    {
        if (m_skipDepth > 0)
            return true;
        switch (m_where) {
        case Where::Start:
            return fail("The request must be a JSON object");
        case Where::Root:
            if (m_rootMember == RootMember::Email) {
                if (!text)
                    return fail("\"email\" must be a string");
                m_email = std::move(*text);
            } else if (m_rootMember == RootMember::Ip) {
                if (!text)
                    return fail("\"ip\" must be a string");
                m_hasIp = true;
            } else if (m_rootMember == RootMember::Notes) {
                return fail("\"notes\" must be an array");
            }
            return true;
        case Where::Notes:
            return fail(noteWhere() + "must be an object");
        case Where::Note:
            if (m_atRev) {
                if (!integer || *integer < 1)
                    return fail(revComplaint());
                m_base = *integer;
                return true;
            }
            if (m_noteMember >= noteMembers.size())
                return true;
            if (std::string *field = stringField(m_note, m_noteMember)) {
                if (!text)
                    return fail(memberComplaint());
                *field = std::move(*text);
            } else {
                if (!integer)
                    return fail(memberComplaint());
                *integerField(m_note, m_noteMember) = *integer;
            }
            m_seen |= 1u << m_noteMember;
            return true;
        case Where::End:
            break;
        }
        return fail("Malformed JSON");
    }

    bool open(bool isObject)
    {
        if (++m_depth > maxRequestDepth)
            return fail("The request is nested deeper than " + std::to_string(maxRequestDepth) + " levels");
        if (m_skipDepth > 0) {
            ++m_skipDepth;
            return true;
        }
        switch (m_where) {
        case Where::Start:
            if (!isObject)
                return fail("The request must be a JSON object");
            m_where = Where::Root;
            return true;
        case Where::Root:
            if (m_rootMember == RootMember::Email)
                return fail("\"email\" must be a string");
            if (m_rootMember == RootMember::Ip)
                return fail("\"ip\" must be a string");
            if (m_rootMember == RootMember::Notes) {
                if (isObject)
                    return fail("\"notes\" must be an array");
                // A repeated member replaces the earlier one, as a JSON object reads.
                m_request.notes.clear();
                m_request.bases.clear();
                m_ids.clear();
                m_hasNotes = true;
                m_where = Where::Notes;
                return true;
            }
            m_skipDepth = 1;
            return true;
        case Where::Notes:
            if (!isObject)
                return fail(noteWhere() + "must be an object");
            m_note = StoredNote{};
            m_base = 0;
            m_atRev = false;
            m_seen = 0;
            m_noteMember = noteMembers.size();
            m_where = Where::Note;
            return true;
        case Where::Note:
            if (m_noteMember < noteMembers.size())
                return fail(memberComplaint());
            if (m_atRev)
                return fail(revComplaint());
            m_skipDepth = 1;
            return true;
        case Where::End:
            break;
        }
        return fail("Malformed JSON");
    }

    bool close()
    {
        --m_depth;
        if (m_skipDepth > 0) {
            --m_skipDepth;
            return true;
        }
        switch (m_where) {
        case Where::Root:
            m_where = Where::End;
            return true;
        case Where::Notes:
            m_where = Where::Root;
            return true;
        case Where::Note:
            return closeNote();
        case Where::Start:
        case Where::End:
            break;
        }
        return fail("Malformed JSON");
    }

    bool closeNote()
    {
        for (std::size_t member = 0; member < noteMembers.size(); ++member) {
            if (!(m_seen & (1u << member))) {
                m_noteMember = member;
                return fail(memberComplaint());
            }
        }
        if (m_note.noteid.empty())
            return fail(noteWhere() + "\"noteid\" must not be empty");
        if (!m_ids.insert(m_note.noteid).second)
            return fail(noteWhere() + "\"noteid\" appears twice");
        m_request.notes.push_back(std::move(m_note));
        m_request.bases.push_back(m_base);
        m_where = Where::Notes;
        return true;
    }

    Where m_where = Where::Start;
    int m_depth = 0;
    int m_skipDepth = 0; // open containers of a value that is skipped
    RootMember m_rootMember = RootMember::Other;
    std::size_t m_noteMember = noteMembers.size();
    unsigned m_seen = 0;
    bool m_atRev = false;
    StoredNote m_note;
    int64_t m_base = 0;
    std::optional<std::string> m_email;
    bool m_hasIp = false;
    bool m_hasNotes = false;
    std::unordered_set<std::string> m_ids;
    SyncRequest m_request;
    std::string m_error;
};

} // namespace

SyncRequest readSyncRequest(std::string_view body)
{
    RequestBuilder builder;
    if (!ordered_json::sax_parse(body.begin(), body.end(), &builder)) {
        if (builder.error().empty())
            throw BadRequest("Malformed JSON");
        throw BadRequest(builder.error());
    }
    return builder.finish();
}
