#pragma once

#include "Note.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

class AppState;

// Each note's content in the form the grid's search compares: lower-cased and
// composed, as UTF-8. Kept as long as the shared state, so that a reload or a
// fresh grid screen folds again only the notes whose content changed.
//
// Content that folds to itself apart from ASCII letters keeps no copy: it is
// searched in place with ASCII letters compared without case.
//
// Other content is folded a little at a time while the event loop is idle,
// so the grid's first frame does not wait for it; a search that comes sooner
// folds what is left first.
class NoteSearchCache : public QObject {
    Q_OBJECT

public:
    explicit NoteSearchCache(QObject *parent = nullptr);

    // The cache that lives with `state`, made on first use.
    static NoteSearchCache *of(AppState *state);

    // Brings the cache to `notes`, position for position. Nothing is done when
    // it already describes this very list.
    void update(const QList<Note> &notes);
    bool describes(const QList<Note> &notes) const { return m_notes.isSharedWith(notes); }

    // The search text in the compared form; empty for an empty text.
    static QByteArray foldedNeedle(const QString &searchText);
    // Folds every note still waiting; matches() needs it.
    void foldPending();
    bool hasPending() const { return !m_pending.empty(); }
    // Whether the note at `position` of the list holds the folded needle. A
    // note whose content is not UTF-8 never matches.
    bool matches(qsizetype position, QByteArrayView needle) const;
    // Those of `positions` whose notes match, in the same order.
    std::vector<uint32_t> matching(const std::vector<uint32_t> &positions, QByteArrayView needle) const;

    // Notes whose folded form needed a copy of its own.
    qsizetype copiedTexts() const;

private:
    enum class Kind : uint32_t { NotUtf8, InPlace, Copied, Pending };
    struct Entry {
        QByteArray folded;   // only for Copied
        Kind kind = Kind::NotUtf8;
    };

    static Entry entryFor(const QByteArray &content);
    // Appends the entry of the next position to `entries` and its copy to `copies`.
    static void append(std::vector<uint32_t> &entries, std::vector<QByteArray> &copies, Entry entry);
    void store(uint32_t position, Entry entry);
    Kind kindAt(size_t position) const { return Kind(m_entries[position] & kindMask); }
    void foldSome();
    void foldNext();
    void schedule();

    // Per position, the kind in the low bits and, for Copied, the index of
    // the folded text in m_copies above them: a word per note, since most
    // notes need no copy or have none yet.
    static constexpr uint32_t kindBits = 2;
    static constexpr uint32_t kindMask = (1u << kindBits) - 1;
    QList<Note> m_notes;   // the list the entries describe, shared with its owner
    std::vector<uint32_t> m_entries;
    std::vector<QByteArray> m_copies;
    std::vector<uint32_t> m_pending;   // positions still to fold, the next last
    bool m_scheduled = false;
};
