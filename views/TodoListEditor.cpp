#include "TodoListEditor.h"

#include <QSet>
#include <QStringDecoder>
#include <QTimer>
#include <algorithm>

std::optional<QString> todoContentText(const QList<TodoItem> &items)
{
    // An empty list is no content at all, so the new-note editor can tell an
    // emptied list from one that still holds items.
    if (items.isEmpty())
        return QString();
    const QByteArray json = encodeTodoItems(items);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(json);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// --- TodoItemBinding --------------------------------------------------------

TodoItemBinding::TodoItemBinding(TodoListEditor *list, qsizetype position, TodoItem bound)
    : m_list(list), m_position(position), m_bound(std::move(bound))
{
}

bool TodoItemBinding::isLive() const
{
    if (!m_list)
        return false;
    const QList<TodoItem> items = m_list->items();
    return m_position >= 0 && m_position < items.size() && items.at(m_position).id == m_bound.id;
}

TodoItem TodoItemBinding::get() const
{
    if (!isLive())
        return m_bound;
    return m_list->items().at(m_position);
}

void TodoItemBinding::set(const TodoItem &item) const
{
    if (!isLive())
        return;
    QList<TodoItem> items = m_list->items();
    items[m_position] = item;
    m_list->writeItems(items);
}

// --- TodoItemView -----------------------------------------------------------

TodoItemView::TodoItemView(TodoItemBinding item, std::function<void()> updateContent,
                           std::function<void()> deleteItem, QObject *parent)
    : QObject(parent),
      m_item(std::move(item)),
      m_updateContent(std::move(updateContent)),
      m_deleteItem(std::move(deleteItem)),
      m_announced(m_item.get())
{
}

void TodoItemView::rebind(TodoItemBinding item)
{
    m_item = std::move(item);
    // The list was replaced from outside (reloaded from the content): an
    // editor already shown shows the item's new text.
    if (m_appeared && m_item.isLive() && m_item.get().text != m_text.stored())
        showStoredText();
    announceItem();
}

void TodoItemView::announceItem()
{
    const TodoItem current = item();
    if (current.text == m_announced.text && current.isCompleted == m_announced.isCompleted)
        return;
    m_announced = current;
    Q_EMIT itemChanged();
}

void TodoItemView::setFocused(bool focused)
{
    if (m_isFocused == focused)
        return;
    m_isFocused = focused;
    Q_EMIT isFocusedChanged();
}

void TodoItemView::editorAppeared()
{
    m_appeared = true;
    showStoredText();
}

void TodoItemView::showStoredText()
{
    m_text.replace(item().text);
    Q_EMIT shownTextReplaced();
}

void TodoItemView::textShown(const QString &reading)
{
    m_text.setReading(reading);
}

void TodoItemView::writeItem(const TodoItem &item)
{
    m_item.set(item);
    announceItem();
}

void TodoItemView::toggleCompleted()
{
    TodoItem toggled = item();
    toggled.isCompleted = !toggled.isCompleted;
    writeItem(toggled);
    m_updateContent();
    // Runs after this event is handled, when a reopened item's editor may
    // already be on screen.
    QTimer::singleShot(0, this, &TodoItemView::refreshText);
}

void TodoItemView::refreshText()
{
    // Only the row's look is refreshed; the item keeps the user's text.
    if (m_item.isLive())
        showStoredText();
}

int TodoItemView::trailingLineBreakLength(const QString &text)
{
    if (text.isEmpty())
        return 0;
    if (text.endsWith(QLatin1String("\r\n")))
        return 2;
    switch (text.back().unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return 1;
    default:
        return 0;
    }
}

void TodoItemView::textEdited(const QString &reading)
{
    if (isCompleted() || reading == m_text.shown())
        return;
    const ShownEdit edit = m_text.edit(reading);
    if (reading.isEmpty()) {
        m_deleteItem();
    } else {
        TodoItem edited = item();
        edited.text = edit.stored;
        writeItem(edited);
        m_updateContent();
    }
    // A break typed at the end finishes the entry; breaks inside the text,
    // and breaks the item already ended with, stay.
    if (edit.reachesEnd && trailingLineBreakLength(edit.inserted) > 0) {
        setFocused(false);
        const QString kept = reading.chopped(trailingLineBreakLength(reading));
        textEdited(kept);
        Q_EMIT shownTextReplaced();
        Q_EMIT entryFinished(!kept.isEmpty());
    }
}

// --- TodoListEditor ---------------------------------------------------------

TodoListEditor::TodoListEditor(QObject *parent) : QAbstractListModel(parent) {}

void TodoListEditor::setEditor(NoteEditor *editor)
{
    if (m_editor == editor)
        return;
    disconnect(m_editorConnection);
    disconnect(m_offerConnection);
    m_editor = editor;
    if (editor) {
        QPointer<NoteEditor> guarded(editor);
        m_content = {[guarded] { return guarded ? guarded->content() : QString(); },
                     [guarded](const QString &text) {
                         if (guarded)
                             guarded->setContent(text);
                     }};
        m_todoItems = {[guarded] { return guarded ? guarded->todoItems() : QList<TodoItem>(); },
                       [guarded](const QList<TodoItem> &items) {
                           if (guarded)
                               guarded->setTodoItems(items);
                       }};
        m_editorConnection = connect(editor, &NoteEditor::todoItemsChanged, this, &TodoListEditor::refresh);
        m_offerConnection = connect(editor, &NoteEditor::itemOffered, this, [this](const QUuid &id) {
            const auto shown = std::find_if(m_rows.begin(), m_rows.end(),
                                            [&](const TodoItemView *row) { return row->id() == id; });
            if (shown != m_rows.end())
                offerRow(shown - m_rows.begin());
        });
    } else {
        m_content = {};
        m_todoItems = {};
    }
    refresh();
    Q_EMIT editorChanged();
}

QList<TodoItem> TodoListEditor::items() const
{
    return m_todoItems.get ? m_todoItems.get() : QList<TodoItem>();
}

void TodoListEditor::writeItems(const QList<TodoItem> &items)
{
    if (m_todoItems.set)
        m_todoItems.set(items);
    refresh();
}

QList<TodoItem> TodoListEditor::sortedItems() const
{
    QList<TodoItem> sorted = items();
    std::stable_sort(sorted.begin(), sorted.end(), [](const TodoItem &left, const TodoItem &right) {
        return !left.isCompleted && right.isCompleted;
    });
    return sorted;
}

std::optional<TodoItemBinding> TodoListEditor::binding(const TodoItem &item)
{
    const QList<TodoItem> stored = items();
    const auto found = std::find_if(stored.begin(), stored.end(),
                                    [&](const TodoItem &candidate) { return candidate.id == item.id; });
    if (found == stored.end())
        return std::nullopt;
    return TodoItemBinding(this, found - stored.begin(), *found);
}

void TodoListEditor::updateContent()
{
    if (!m_content.set)
        return;
    if (const auto text = todoContentText(items()))
        m_content.set(*text);
}

void TodoListEditor::deleteItem(const QUuid &id)
{
    QList<TodoItem> stored = items();
    const auto found = std::find_if(stored.begin(), stored.end(),
                                    [&](const TodoItem &item) { return item.id == id; });
    if (found == stored.end())
        return;
    stored.erase(found);
    writeItems(stored);
    updateContent();
}

void TodoListEditor::deleteItems(const QList<int> &positions)
{
    QSet<QUuid> doomed;
    for (const int position : positions) {
        if (const TodoItemView *shown = row(position))
            doomed.insert(shown->id());
    }
    QList<TodoItem> stored = items();
    stored.removeIf([&](const TodoItem &item) { return doomed.contains(item.id); });
    writeItems(stored);
    updateContent();
}

void TodoListEditor::loadTodoItems()
{
    const QByteArray json = storedBytesFromText(m_content.get ? m_content.get() : QString());
    try {
        writeItems(decodeTodoItems(json));
    } catch (const TodoDecodeError &) {
        // Content that is no to-do list leaves the editor's list as it is.
    }
}

TodoItemView *TodoListEditor::row(qsizetype position) const
{
    return position >= 0 && position < m_rows.size() ? m_rows.at(position) : nullptr;
}

void TodoListEditor::offerRow(qsizetype position)
{
    TodoItemView *offered = row(position);
    if (!offered)
        return;
    offered->setFocused(true);
    Q_EMIT rowOffered(int(position));
}

qsizetype TodoListEditor::rowPosition(const QUuid &id) const
{
    const auto found = std::find_if(m_rows.begin(), m_rows.end(),
                                    [&](const TodoItemView *candidate) { return candidate->id() == id; });
    return found == m_rows.end() ? -1 : found - m_rows.begin();
}

void TodoListEditor::finishEntry(bool kept)
{
    if (kept) {
        if (m_editor)
            m_editor->addItem();
        return;
    }
    if (m_lastRemovedRow >= 0)
        offerRow(qMin(qMax(m_lastRemovedRow - 1, qsizetype(0)), m_rows.size() - 1));
}

TodoItemView *TodoListEditor::makeRow(TodoItemBinding item)
{
    const QUuid id = item.id();
    QPointer<TodoListEditor> self(this);
    auto *made = new TodoItemView(
        std::move(item),
        [self] {
            if (self)
                self->updateContent();
        },
        [self, id] {
            if (!self)
                return;
            self->m_lastRemovedRow = self->rowPosition(id);
            self->deleteItem(id);
        },
        this);
    // At once, before another key comes: what is typed next goes into the
    // row this offers.
    connect(made, &TodoItemView::entryFinished, this, &TodoListEditor::finishEntry);
    return made;
}

void TodoListEditor::refresh()
{
    QList<TodoItem> shown;
    QList<TodoItemBinding> bindings;
    for (const TodoItem &item : sortedItems()) {
        if (auto found = binding(item)) {
            shown.append(item);
            bindings.append(*found);
        }
    }

    // Rows whose item left the list go first; the row objects may still be
    // on the call stack (a row deleting itself), so they go later.
    QSet<QUuid> shownIds;
    for (const TodoItem &item : shown)
        shownIds.insert(item.id);
    for (qsizetype i = m_rows.size() - 1; i >= 0; --i) {
        if (shownIds.contains(m_rows.at(i)->id()))
            continue;
        beginRemoveRows(QModelIndex(), int(i), int(i));
        TodoItemView *gone = m_rows.takeAt(i);
        endRemoveRows();
        gone->deleteLater();
    }

    // Then every position gets the row of its item: moved when the row exists
    // elsewhere (ticking), made when the item is new.
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QUuid &id = shown.at(i).id;
        if (i < m_rows.size() && m_rows.at(i)->id() == id) {
            m_rows.at(i)->rebind(bindings.at(i));
            continue;
        }
        const auto existing = std::find_if(m_rows.begin() + i, m_rows.end(),
                                           [&](const TodoItemView *candidate) { return candidate->id() == id; });
        if (existing != m_rows.end()) {
            const int from = int(existing - m_rows.begin());
            beginMoveRows(QModelIndex(), from, from, QModelIndex(), int(i));
            m_rows.move(from, i);
            endMoveRows();
            m_rows.at(i)->rebind(bindings.at(i));
        } else {
            beginInsertRows(QModelIndex(), int(i), int(i));
            m_rows.insert(i, makeRow(bindings.at(i)));
            endInsertRows();
        }
    }
}

int TodoListEditor::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant TodoListEditor::data(const QModelIndex &index, int role) const
{
    TodoItemView *shown = row(index.row());
    if (!shown || index.parent().isValid() || role != RowRole)
        return {};
    return QVariant::fromValue(shown);
}

QHash<int, QByteArray> TodoListEditor::roleNames() const
{
    return {{RowRole, "row"}};
}
