#include "NoteEditor.h"

#include "Console.h"
#include "DBError.h"
#include "DBManager.h"
#include "ProblemNotice.h"
#include "StoreStatement.h"
#include "TodoListEditor.h"

#include <QCoreApplication>
#include <QTimer>

namespace {
constexpr int savedMessageMs = 500;
}

NoteEditor::NoteEditor(QObject *parent) : QObject(parent)
{
    // Every way of quitting ends in quit(); what was typed must not go with it.
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &NoteEditor::storeOnQuit);
}

void NoteEditor::setAppState(AppState *appState)
{
    if (m_appState == appState)
        return;
    m_appState = appState;
    Q_EMIT appStateChanged();
}

void NoteEditor::setNoteId(const QString &noteId)
{
    if (m_noteId == noteId)
        return;
    m_noteId = noteId;
    Q_EMIT noteIdChanged();
}

void NoteEditor::setContent(const QString &content)
{
    if (m_text.stored() == content)
        return;
    m_text.replace(content);
    Q_EMIT contentChanged();
    Q_EMIT shownTextReplaced();
}

void NoteEditor::textShown(const QString &reading)
{
    m_text.setReading(reading);
}

void NoteEditor::textEdited(const QString &reading)
{
    if (reading == m_text.shown())
        return;
    const QString before = m_text.stored();
    m_text.edit(reading);
    if (m_text.stored() != before)
        Q_EMIT contentChanged();
}

void NoteEditor::setSelectedType(int raw)
{
    if (const auto type = itemTypeFromRaw(raw))
        setItemType(*type);
}

void NoteEditor::setItemType(ItemType type)
{
    if (m_selectedType == type)
        return;
    m_selectedType = type;
    Q_EMIT selectedTypeChanged();
}

void NoteEditor::setLoaded(bool loaded)
{
    if (m_loaded == loaded)
        return;
    m_loaded = loaded;
    Q_EMIT loadedChanged();
}

void NoteEditor::setTodoItems(const QList<TodoItem> &items)
{
    m_todoItems = items;
    Q_EMIT todoItemsChanged();
}

void NoteEditor::addItem()
{
    QList<TodoItem> items = m_todoItems;
    auto empty = std::find_if(items.begin(), items.end(), [](const TodoItem &item) { return item.text.isEmpty(); });
    if (empty == items.end())
        empty = items.insert(items.end(), TodoItem::makeEmpty());
    const QUuid offered = empty->id;
    setTodoItems(items);
    if (const auto text = todoContentText(m_todoItems))
        setContent(*text);
    Q_EMIT itemOffered(offered);
}

void NoteEditor::goHome()
{
    if (m_left)
        return;
    const Leaving leaving = storeForLeaving();
    if (leaving != Leaving::stay)
        finishLeaving(leaving);
}

void NoteEditor::finishLeaving(Leaving leaving)
{
    m_left = true;
    showGrid();
    if (leaving == Leaving::stored && m_onSave)
        m_onSave();
}

void NoteEditor::storeOnQuit()
{
    if (!m_left && storeForLeaving() != Leaving::stay)
        m_left = true;
}

bool NoteEditor::storeContent(Note record)
{
    record.id = m_noteId;
    record.content = storedBytesFromText(content());
    record.type = rawValue(m_selectedType);
    record.isdeleted = false;
    try {
        try {
            DBManager::shared().saveNote(record.id, record.content, record.type, record.isdeleted, record.title,
                                         record.isfavorite, record.filelink);
        } catch (const DBError &error) {
            if (error.code() != DBError::Code::noteNotFound)
                throw;
            // The row went while the note was open (removed elsewhere, or
            // purged by a sync): the note is written anew rather than lost.
            record.lastModifiedDate = store::secondsSinceEpoch();
            if (record.createdDate == 0)
                record.createdDate = record.lastModifiedDate;
            DBManager::shared().upsertNote(record);
        }
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error saving note: ") + errorDescription(error));
        ProblemNotice::shared().report(ProblemNotice::Action::save, error);
        return false;
    }
    showSaved();
    return true;
}

void NoteEditor::showSaved()
{
    setSavedMessage(QStringLiteral("Saved"));
    // Each save clears the indicator on its own schedule, even if another
    // save came in between.
    QTimer::singleShot(savedMessageMs, this, [this] { setSavedMessage(QString()); });
}

void NoteEditor::showGrid()
{
    if (m_appState)
        m_appState->setCurrentView(AppState::AppView::main());
}

void NoteEditor::setSavedMessage(const QString &message)
{
    if (m_savedMessage == message)
        return;
    m_savedMessage = message;
    Q_EMIT savedMessageChanged();
}
