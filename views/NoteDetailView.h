#pragma once

#include "NoteEditor.h"

#include <optional>

// The editor of an existing note. It loads the note when it comes on screen
// and stores it whenever the user leaves; the kind of the note is fixed.
class NoteDetailView : public NoteEditor {
    Q_OBJECT
    QML_NAMED_ELEMENT(NoteDetailViewState)

public:
    explicit NoteDetailView(QObject *parent = nullptr);

    // The record as it was loaded; saving never refreshes it.
    const std::optional<Note> &note() const { return m_note; }

    Q_INVOKABLE void loadNote();
    void saveNote() override;
    void goHome() override;

private:
    bool save();

    std::optional<Note> m_note;
    bool m_contentUnreadable = false;
};
