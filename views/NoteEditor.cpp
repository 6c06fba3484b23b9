#include "NoteEditor.h"

#include "Console.h"
#include "DBManager.h"
#include "TodoListEditor.h"

#include <QTimer>

namespace {
constexpr int savedMessageMs = 500;
}

NoteEditor::NoteEditor(QObject *parent) : QObject(parent) {}

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
    if (m_content == content)
        return;
    m_content = content;
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

void NoteEditor::setTodoItems(const QList<TodoItem> &items)
{
    m_todoItems = items;
    Q_EMIT todoItemsChanged();
}

void NoteEditor::addItem()
{
    QList<TodoItem> items = m_todoItems;
    const auto empty = std::find_if(items.begin(), items.end(),
                                    [](const TodoItem &item) { return item.text.isEmpty(); });
    if (empty == items.end())
        items.append(TodoItem::makeEmpty());
    setTodoItems(items);
    if (const auto text = todoContentText(m_todoItems))
        setContent(*text);
}

bool NoteEditor::storeContent(const QByteArray &bytes, const QString &title, int64_t isfavorite,
                              const QString &filelink)
{
    try {
        DBManager::shared().saveNote(m_noteId, bytes, rawValue(m_selectedType), false, title, isfavorite,
                                     filelink);
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error saving note: ") + errorDescription(error));
        return false;
    }
    setSavedMessage(QStringLiteral("Saved"));
    // Each save clears the indicator on its own schedule, even if another
    // save came in between.
    QTimer::singleShot(savedMessageMs, this, [this] { setSavedMessage(QString()); });
    return true;
}

void NoteEditor::showGrid()
{
    if (m_appState)
        m_appState->setCurrentView(AppState::AppView::main());
}

void NoteEditor::callOnSave()
{
    if (m_onSave)
        m_onSave();
}

void NoteEditor::setSavedMessage(const QString &message)
{
    if (m_savedMessage == message)
        return;
    m_savedMessage = message;
    Q_EMIT savedMessageChanged();
}
