#pragma once

#include "NoteEditor.h"

#include <optional>

// The editor of an existing note. It loads the note when it comes on screen
// and, whenever the user leaves, stores what the user changed in it; the kind
// of the note is fixed.
class NoteDetailView : public NoteEditor {
    Q_OBJECT
    QML_NAMED_ELEMENT(NoteDetailViewState)

public:
    explicit NoteDetailView(QObject *parent = nullptr);

    // The record as it was loaded; saving never refreshes it.
    const std::optional<Note> &note() const { return m_note; }

    Q_INVOKABLE void loadNote();
    void saveNote() override;

protected:
    Leaving storeForLeaving() override;

private:
    bool save();
    // Whether the content differs from what this editor loaded or last stored.
    bool changedHere() const;

    std::optional<Note> m_note;
    // What the store holds as far as this editor knows: the loaded content,
    // then each content it stored. A sync may replace the row meanwhile; an
    // untouched editor must not write its older copy back over that.
    QString m_storedContent;
};
