#include "NewItemView.h"

#include "Console.h"
#include "DBManager.h"

NewItemView::NewItemView(QObject *parent) : NoteEditor(parent) {}

void NewItemView::saveNote()
{
    save();
}

bool NewItemView::save()
{
    return storeContent(content().toUtf8(), QString(), 0, QString());
}

void NewItemView::goHome()
{
    if (content().isEmpty()) {
        discardNote();
        return;
    }
    // A failed save keeps the editor open so what was typed is not lost;
    // leaving again tries once more.
    if (!save())
        return;
    showGrid();
    callOnSave();
}

void NewItemView::discardNote()
{
    try {
        DBManager::shared().deleteNotePermanently(noteId());
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error deleting note: ") + errorDescription(error));
        return;
    }
    showGrid();
}
