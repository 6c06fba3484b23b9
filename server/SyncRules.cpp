#include "SyncRules.h"

#include "NoteMerge.h"

#include <openssl/sha.h>

#include <string_view>

namespace {

bool isDeletion(const StoredNote &note)
{
    return note.isdeleted == 1;
}

NoteDecision store(const StoredNote &note)
{
    return NoteDecision{NoteDecision::Action::Store, note};
}

NoteDecision keepBoth(const StoredNote &incoming)
{
    return NoteDecision{NoteDecision::Action::Copy, incoming};
}

const NoteDecision nothing{};

std::string hexSha1(std::string_view data)
{
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char *>(data.data()), data.size(), digest);
    static const char hexDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * SHA_DIGEST_LENGTH);
    for (const unsigned char byte : digest) {
        hex += hexDigits[byte >> 4];
        hex += hexDigits[byte & 0xF];
    }
    return hex;
}

// Each part with its length before it, so no two different notes read alike.
void appendPart(std::string &out, std::string_view part)
{
    out += std::to_string(part.size());
    out += ':';
    out += part;
}

} // namespace

NoteDecision decideByRevision(const StoredNote &incoming, int64_t baseRev, const std::optional<HeldNote> &current,
                              const std::optional<StoredNote> &baseVersion, const std::string &baseHash)
{
    if (!current)
        return store(incoming);
    const StoredNote &held = current->note;
    if (sameVersion(incoming, held))
        return nothing;
    if (baseRev == current->rev)
        return store(incoming);
    if (baseVersion) {
        if (sameVersion(incoming, *baseVersion))
            return nothing;
        if (sameVersion(held, *baseVersion))
            return store(incoming);
    } else if (!baseHash.empty() && baseHash == versionHash(incoming)) {
        return nothing;
    }
    // Both sides changed, or what the machine changed is unknown.
    if (isDeletion(incoming))
        return nothing;
    if (isDeletion(held))
        return store(incoming);
    if (!baseVersion)
        return keepBoth(incoming);
    if (std::optional<StoredNote> merged = mergeNotes(*baseVersion, held, incoming)) {
        if (sameVersion(*merged, held))
            return nothing;
        return store(*merged);
    }
    return keepBoth(incoming);
}

NoteDecision decideByTime(const StoredNote &incoming, const std::optional<HeldNote> &current)
{
    if (!current)
        return store(incoming);
    const StoredNote &held = current->note;
    if (incoming.lastmodifiedtime != held.lastmodifiedtime)
        return incoming.lastmodifiedtime > held.lastmodifiedtime ? store(incoming) : nothing;
    if (isDeletion(held) && !isDeletion(incoming))
        return nothing;
    return sameVersion(incoming, held) ? nothing : store(incoming);
}

std::string versionHash(const StoredNote &note)
{
    std::string text;
    text.reserve(note.content.size() + note.title.size() + note.filelink.size() + note.noteid.size() + 128);
    appendPart(text, note.noteid);
    appendPart(text, note.content);
    appendPart(text, std::to_string(note.type));
    appendPart(text, std::to_string(note.isdeleted));
    appendPart(text, std::to_string(note.lastmodifiedtime));
    appendPart(text, note.title);
    appendPart(text, std::to_string(note.isfavorite));
    appendPart(text, note.filelink);
    return hexSha1(text);
}

std::string conflictCopyId(const std::string &noteid, int64_t baseRev, const std::string &copyHash)
{
    std::string text;
    appendPart(text, noteid);
    appendPart(text, std::to_string(baseRev));
    appendPart(text, copyHash);
    return hexSha1(text);
}
