#pragma once

#include "AppState.h"
#include "ItemType.h"
#include "TodoItem.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <functional>

// What the two note editors share: the text being edited, the to-do items
// behind it, the "Saved" indicator and the add-item step. The editor owns
// `content` and `todoItems`; the to-do list editor reads and writes them
// through this object. Only `content` ever reaches the store.
class NoteEditor : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(NoteEditorState)
    QML_UNCREATABLE("Use NewItemViewState or NoteDetailViewState")
    Q_PROPERTY(AppState *appState READ appState WRITE setAppState NOTIFY appStateChanged FINAL)
    Q_PROPERTY(QString noteId READ noteId WRITE setNoteId NOTIFY noteIdChanged FINAL)
    Q_PROPERTY(QString content READ content WRITE setContent NOTIFY contentChanged FINAL)
    Q_PROPERTY(QString savedMessage READ savedMessage NOTIFY savedMessageChanged FINAL)
    Q_PROPERTY(int selectedType READ selectedType WRITE setSelectedType NOTIFY selectedTypeChanged FINAL)

public:
    explicit NoteEditor(QObject *parent = nullptr);

    AppState *appState() const { return m_appState; }
    void setAppState(AppState *appState);

    const QString &noteId() const { return m_noteId; }
    void setNoteId(const QString &noteId);

    const QString &content() const { return m_content; }
    void setContent(const QString &content);

    const QString &savedMessage() const { return m_savedMessage; }

    // The raw value of the kind being edited: 1 for a text note, 2 for a to-do list.
    int selectedType() const { return static_cast<int>(rawValue(m_selectedType)); }
    void setSelectedType(int raw);
    ItemType itemType() const { return m_selectedType; }

    const QList<TodoItem> &todoItems() const { return m_todoItems; }
    void setTodoItems(const QList<TodoItem> &items);

    // Called after the user left a note for the grid; the window passes none.
    void setOnSave(std::function<void()> onSave) { m_onSave = std::move(onSave); }

    // Makes sure one empty item is there to type into, and rewrites the content.
    Q_INVOKABLE void addItem();
    // Stores the content now; shows "Saved" when the store took it.
    Q_INVOKABLE virtual void saveNote() = 0;
    // Leaves the note for the grid.
    Q_INVOKABLE virtual void goHome() = 0;

Q_SIGNALS:
    void appStateChanged();
    void noteIdChanged();
    void contentChanged();
    void savedMessageChanged();
    void selectedTypeChanged();
    void todoItemsChanged();

protected:
    void setItemType(ItemType type);

    // Stores these content bytes with the selected kind; prints the failure
    // and returns false when the store refuses them, shows "Saved" otherwise.
    bool storeContent(const QByteArray &bytes, const QString &title, int64_t isfavorite,
                      const QString &filelink);

    // Switches the window back to the note grid.
    void showGrid();
    void callOnSave();

private:
    void setSavedMessage(const QString &message);

    AppState *m_appState = nullptr;
    QString m_noteId;
    QString m_content;
    QString m_savedMessage;
    ItemType m_selectedType = ItemType::note;
    QList<TodoItem> m_todoItems;
    std::function<void()> m_onSave;
};
