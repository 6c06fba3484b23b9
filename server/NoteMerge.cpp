#include "NoteMerge.h"

#include "TodoMerge.h"

#include <git2.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace {

// libgit2 counts its users; the service stays one for its whole life.
void ensureLibgit2()
{
    static const int started = git_libgit2_init();
    if (started < 0)
        throw std::runtime_error("libgit2 did not start");
}

git_merge_file_input inputOf(std::string_view text)
{
    git_merge_file_input input;
    git_merge_file_input_init(&input, GIT_MERGE_FILE_INPUT_VERSION);
    input.ptr = text.data() ? text.data() : "";
    input.size = text.size();
    return input;
}

// A member both sides may have changed: the side that kept the base value
// takes the other's; equal changes agree; different ones conflict.
template <typename T>
bool mergeMember(const T &base, const T &current, const T &incoming, T &out)
{
    if (incoming == base || incoming == current) {
        out = current;
        return true;
    }
    if (current == base) {
        out = incoming;
        return true;
    }
    return false;
}

} // namespace

std::optional<std::string> mergeText(std::string_view base, std::string_view current, std::string_view incoming)
{
    ensureLibgit2();
    const git_merge_file_input ancestor = inputOf(base);
    const git_merge_file_input ours = inputOf(current);
    const git_merge_file_input theirs = inputOf(incoming);
    git_merge_file_result result{};
    if (git_merge_file(&result, &ancestor, &ours, &theirs, nullptr) != 0) {
        const git_error *error = git_error_last();
        throw std::runtime_error(std::string("Text merge failed: ") + (error ? error->message : "unknown"));
    }
    std::unique_ptr<git_merge_file_result, void (*)(git_merge_file_result *)> owned(&result,
                                                                                     git_merge_file_result_free);
    if (!result.automergeable)
        return std::nullopt;
    return std::string(result.ptr ? result.ptr : "", result.len);
}

bool sameVersion(StoredNote a, const StoredNote &b)
{
    a.createdtime = b.createdtime;
    return a == b;
}

std::optional<StoredNote> mergeNotes(const StoredNote &base, const StoredNote &current, const StoredNote &incoming)
{
    StoredNote merged = current;
    if (!mergeMember(base.type, current.type, incoming.type, merged.type)
        || !mergeMember(base.isdeleted, current.isdeleted, incoming.isdeleted, merged.isdeleted)
        || !mergeMember(base.title, current.title, incoming.title, merged.title)
        || !mergeMember(base.isfavorite, current.isfavorite, incoming.isfavorite, merged.isfavorite)
        || !mergeMember(base.filelink, current.filelink, incoming.filelink, merged.filelink))
        return std::nullopt;

    if (!mergeMember(base.content, current.content, incoming.content, merged.content)) {
        // Both changed the text: merged by the kind all three copies share; a
        // copy that turned into the other kind cannot be merged into it.
        if (base.type != current.type || incoming.type != current.type)
            return std::nullopt;
        std::optional<std::string> content = current.type == todoListType
            ? mergeTodoLists(base.content, current.content, incoming.content)
            : mergeText(base.content, current.content, incoming.content);
        if (!content)
            return std::nullopt;
        merged.content = std::move(*content);
    }
    merged.lastmodifiedtime = std::max(current.lastmodifiedtime, incoming.lastmodifiedtime);
    return merged;
}
