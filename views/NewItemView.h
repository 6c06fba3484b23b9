#pragma once

#include "NoteEditor.h"

// The editor of a note the user has just created from the grid. The note
// starts empty; leaving stores it when it has content and removes it
// otherwise, so an abandoned new note leaves no row behind.
class NewItemView : public NoteEditor {
    Q_OBJECT
    QML_NAMED_ELEMENT(NewItemViewState)

public:
    explicit NewItemView(QObject *parent = nullptr);

    void saveNote() override;
    Q_INVOKABLE void discardNote();

protected:
    Leaving storeForLeaving() override;

private:
    bool save();
    bool discard();
};
