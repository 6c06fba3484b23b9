#pragma once

#include "StoredNote.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// A note as the service holds it now, with its revision.
struct HeldNote {
    StoredNote note;
    int64_t rev = 0;
};

// What the service does with one note that a machine sent.
struct NoteDecision {
    enum class Action {
        Nothing, // the service's copy stays; the reply brings the machine up to it
        Store,   // `note` becomes the note's next revision
        Copy,    // `note` is the machine's version, kept as a new note beside the current one
    };
    Action action = Action::Nothing;
    StoredNote note;
};

// For a machine that names the revision its copy was based on (`baseRev`, 0
// for a copy it never synced) and the base version when the service still
// keeps it whole, or else `baseHash`, its versionHash, when it keeps that.
// Clocks decide nothing: a copy changed from the current revision
// replaces it; an unchanged one is brought up to date; where both sides
// changed, they are merged, or where the changes overlap the machine's
// version is kept as a copy. A deletion never removes a change its machine
// had not seen, and a change brings back a note deleted elsewhere. Without
// the base version nothing can tell what the machine changed, so a copy that
// differs is kept beside the current one rather than lost.
NoteDecision decideByRevision(const StoredNote &incoming, int64_t baseRev, const std::optional<HeldNote> &current,
                              const std::optional<StoredNote> &baseVersion, const std::string &baseHash = {});

// For machines that send no revisions at all: the newer "lastmodifiedtime"
// wins. Times are whole seconds, so one machine saving twice within a second
// sends a copy of the same time: on such a tie the copy sent wins when it
// differs, as the later arrival, except over a deletion, which wins a tie.
NoteDecision decideByTime(const StoredNote &incoming, const std::optional<HeldNote> &current);

// 40 lower-case hex digits naming a copy's members (its creation time aside,
// which machines may hold differently for one version).
std::string versionHash(const StoredNote &note);

// The identifier of the copy kept for a machine's version that overlapped the
// current one: the same request made again names the same copy.
std::string conflictCopyId(const std::string &noteid, int64_t baseRev, const std::string &copyHash);

// How long the service keeps versions that machines may still hold as their
// base. A machine's base is the revision it last synced, so a version is
// needed for as long as some machine has not synced since it was replaced.
// Past these bounds nothing is lost: a changed copy whose base is gone is
// kept beside the current one instead of merged. Beyond the versions kept
// whole, a version's hash is kept far longer at little cost, so that a copy
// a machine did not change is still known as such and brought up to date.
struct HistoryBounds {
    // Whole versions per note. A note changed more often than this while a
    // machine was away is rare; each costs the note's size again.
    int64_t versions = 32;
    // Since the version was replaced: a machine away for half a year is
    // rarely coming back, and the text of notes no longer changed goes.
    int64_t maxAgeSeconds = int64_t(180) * 24 * 3600;
    // Hashes of replaced versions per note, and for how long: a row of about
    // a hundred bytes each.
    int64_t hashes = 1024;
    int64_t hashMaxAgeSeconds = int64_t(3 * 365) * 24 * 3600;
    // The service's own clock, which only ages the history.
    std::function<int64_t()> now;
};
