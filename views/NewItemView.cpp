#include "NewItemView.h"

#include "Console.h"
#include "DBError.h"
#include "DBManager.h"
#include "ProblemNotice.h"

NewItemView::NewItemView(QObject *parent) : NoteEditor(parent)
{
    // A new note starts empty: there is nothing to load.
    setLoaded(true);
}

void NewItemView::saveNote()
{
    save();
}

bool NewItemView::save()
{
    return storeContent(Note());
}

NoteEditor::Leaving NewItemView::storeForLeaving()
{
    if (content().isEmpty())
        return discard() ? Leaving::discarded : Leaving::stay;
    // A failed save keeps the editor open so what was typed is not lost;
    // leaving again tries once more.
    return save() ? Leaving::stored : Leaving::stay;
}

void NewItemView::discardNote()
{
    if (discard())
        finishLeaving(Leaving::discarded);
}

bool NewItemView::discard()
{
    try {
        DBManager::shared().deleteNotePermanently(noteId());
    } catch (const std::exception &error) {
        // A row that has already gone is what discarding wants.
        const auto *storeError = dynamic_cast<const DBError *>(&error);
        if (storeError && storeError->code() == DBError::Code::noteNotFound)
            return true;
        printLine(QStringLiteral("Error deleting note: ") + errorDescription(error));
        ProblemNotice::shared().report(ProblemNotice::Action::remove, error);
        return false;
    }
    return true;
}
