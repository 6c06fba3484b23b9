#pragma once

#include "EditedText.h"
#include "NoteEditor.h"
#include "TodoItem.h"

#include <QAbstractListModel>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <QtQml/qqmlregistration.h>
#include <functional>
#include <optional>

class TodoListEditor;

// The content text of a to-do note: the JSON array of its items, or empty
// text for an empty list. None when the list cannot be written as UTF-8 text.
std::optional<QString> todoContentText(const QList<TodoItem> &items);

// Read and write access to a value that someone else owns.
template <typename T>
struct ValueBinding {
    std::function<T()> get;
    std::function<void(const T &)> set;
};

// A row's access to its stored item: the position it had when the rows were
// last built. Once that position holds another item (or none), reading gives
// the item as it was bound and writing is dropped, so a late edit can never
// land on a neighbour.
class TodoItemBinding {
public:
    TodoItemBinding(TodoListEditor *list, qsizetype position, TodoItem bound);

    TodoItem get() const;
    void set(const TodoItem &item) const;
    // True while the bound position still holds the bound item.
    bool isLive() const;
    const QUuid &id() const { return m_bound.id; }

private:
    QPointer<TodoListEditor> m_list;
    qsizetype m_position;
    TodoItem m_bound;
};

// One row of the to-do list: a check box and the item's text, editable while
// the item is open. The row keeps its own edit text and focus for as long as
// its item is in the list, also while ticking moves it between the groups.
// Like the note editor, the row's text area shows `shownText` and reports how
// it reads it and what the user changed; only the changed spans reach the
// item's text.
class TodoItemView : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(TodoItemViewState)
    QML_UNCREATABLE("Rows are made by the to-do list editor")
    // Announced only when the row's text area has to show the text afresh.
    Q_PROPERTY(QString shownText READ text NOTIFY shownTextReplaced FINAL)
    Q_PROPERTY(bool isFocused READ isFocused WRITE setFocused NOTIFY isFocusedChanged FINAL)
    Q_PROPERTY(bool isCompleted READ isCompleted NOTIFY itemChanged FINAL)
    Q_PROPERTY(QString itemText READ itemText NOTIFY itemChanged FINAL)

public:
    TodoItemView(TodoItemBinding item, std::function<void()> updateContent,
                 std::function<void()> deleteItem, QObject *parent = nullptr);

    TodoItem item() const { return m_item.get(); }
    const QUuid &id() const { return m_item.id(); }
    bool isCompleted() const { return item().isCompleted; }
    QString itemText() const { return item().text; }

    // The edit text, as the row's editor shows it.
    const QString &text() const { return m_text.shown(); }
    // The row's editor shows `text` as `reading`.
    Q_INVOKABLE void textShown(const QString &reading);
    // The user changed the row's editor text into `reading`. Only the open
    // item's editor is shown, so only its changes count.
    Q_INVOKABLE void textEdited(const QString &reading);

    bool isFocused() const { return m_isFocused; }
    void setFocused(bool focused);

    Q_INVOKABLE void toggleCompleted();
    // The open item's editor came on screen: it starts from the stored text.
    Q_INVOKABLE void editorAppeared();

    // Rows are rebuilt on every change of the list; only the binding moves.
    void rebind(TodoItemBinding item);

    // Length of the line break that ends `text` (a CR LF pair counts as one), or 0.
    static int trailingLineBreakLength(const QString &text);

Q_SIGNALS:
    void shownTextReplaced();
    void isFocusedChanged();
    void itemChanged();
    // A line break typed at the end finished the entry; `kept` is false when
    // it emptied the item, which then left the list.
    void entryFinished(bool kept);

private:
    void refreshText();
    void showStoredText();
    void writeItem(const TodoItem &item);
    // Tells the view when the stored item looks different from what it last showed.
    void announceItem();

    TodoItemBinding m_item;
    std::function<void()> m_updateContent;
    std::function<void()> m_deleteItem;
    ShownText m_text;
    bool m_isFocused = false;
    bool m_appeared = false;
    TodoItem m_announced;
};

// The editing surface of a to-do note. It owns no note data: the content text
// and the item list belong to the embedding editor and are read and written
// through bindings. As a list model it presents one row per item, open items
// above completed ones, each group in stored order, keyed by item id.
class TodoListEditor : public QAbstractListModel {
    Q_OBJECT
    QML_NAMED_ELEMENT(TodoListEditorState)
    Q_PROPERTY(NoteEditor *editor READ editor WRITE setEditor NOTIFY editorChanged FINAL)

public:
    enum Role { RowRole = Qt::UserRole + 1 };

    explicit TodoListEditor(QObject *parent = nullptr);

    // The embedding editor whose content and items this list edits.
    NoteEditor *editor() const { return m_editor; }
    void setEditor(NoteEditor *editor);

    QList<TodoItem> sortedItems() const;
    std::optional<TodoItemBinding> binding(const TodoItem &item);
    Q_INVOKABLE void updateContent();
    void deleteItem(const QUuid &id);
    // Positions count the rows as shown.
    Q_INVOKABLE void deleteItems(const QList<int> &positions);
    Q_INVOKABLE void loadTodoItems();

    // The row shown at a position, or none.
    TodoItemView *row(qsizetype position) const;
    // Gives the row at a position the keyboard, so what is typed next goes
    // into its item; nothing when there is no such row.
    void offerRow(qsizetype position);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

public Q_SLOTS:
    // Brings the rows in line with the stored items, keeping each row's
    // state object for as long as its item exists.
    void refresh();

Q_SIGNALS:
    void editorChanged();
    // The row at this position holds the item the user is to type into next.
    void rowOffered(int position);

private:
    friend class TodoItemBinding;
    QList<TodoItem> items() const;
    void writeItems(const QList<TodoItem> &items);
    TodoItemView *makeRow(TodoItemBinding item);
    qsizetype rowPosition(const QUuid &id) const;
    // Return at the end of a row: the next item to type into, or after an
    // emptied item the row above it.
    void finishEntry(bool kept);

    QPointer<NoteEditor> m_editor;
    QMetaObject::Connection m_editorConnection;
    QMetaObject::Connection m_offerConnection;
    ValueBinding<QString> m_content;
    ValueBinding<QList<TodoItem>> m_todoItems;
    QList<TodoItemView *> m_rows;
    // Where the row of the last item removed by its own row was shown.
    qsizetype m_lastRemovedRow = -1;
};
