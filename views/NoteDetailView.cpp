#include "NoteDetailView.h"

#include "Console.h"
#include "DBManager.h"
#include "ProblemNotice.h"

namespace {

std::optional<QList<TodoItem>> todoItemsIn(const QString &content)
{
    try {
        return decodeTodoItems(storedBytesFromText(content));
    } catch (const TodoDecodeError &) {
        return std::nullopt;
    }
}

bool sameItems(const QList<TodoItem> &a, const QList<TodoItem> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TodoItem &x, const TodoItem &y) {
        return x.id == y.id && x.text == y.text && x.isCompleted == y.isCompleted;
    });
}

} // namespace

NoteDetailView::NoteDetailView(QObject *parent) : NoteEditor(parent) {}

void NoteDetailView::loadNote()
{
    Note loaded;
    try {
        loaded = DBManager::shared().fetchNote(noteId());
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error loading note: ") + errorDescription(error));
        ProblemNotice::shared().report(ProblemNotice::Action::load, error);
        // An empty text note stands in; the editing surface can be built.
        setLoaded(true);
        return;
    }
    m_note = loaded;
    // The kind comes first: a to-do list must never reach the text editor.
    // Any kind other than a text note opens as a to-do list.
    setItemType(loaded.type == rawValue(ItemType::note) ? ItemType::note : ItemType::todo);
    setContent(textFromStoredBytes(loaded.content));
    m_storedContent = content();
    setLoaded(true);
}

bool NoteDetailView::changedHere() const
{
    if (content() == m_storedContent)
        return false;
    // Ticking an item and back rewrites the list in the same items.
    if (itemType() == ItemType::todo) {
        const auto now = todoItemsIn(content());
        const auto before = todoItemsIn(m_storedContent);
        if (now && before && sameItems(*now, *before))
            return false;
    }
    return true;
}

void NoteDetailView::saveNote()
{
    save();
}

bool NoteDetailView::save()
{
    if (!m_note) {
        printLine(QStringLiteral("Error: No current note available"));
        return false;
    }
    if (!changedHere()) {
        showSaved();
        return true;
    }
    // Title and file link come from the sync service; the editor does not
    // show them, so it hands them back as loaded instead of erasing them.
    if (!storeContent(*m_note))
        return false;
    m_storedContent = content();
    return true;
}

NoteEditor::Leaving NoteDetailView::storeForLeaving()
{
    if (m_note && !changedHere())
        return Leaving::stored;
    const bool saved = save();
    // Without a loaded note there is nothing a retry could store into, so
    // only a failing store keeps the editor open.
    return saved || !m_note ? Leaving::stored : Leaving::stay;
}
