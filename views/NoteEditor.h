#pragma once

#include "AppState.h"
#include "EditedText.h"
#include "ItemType.h"
#include "Note.h"
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
//
// A text area shows `shownText` and reports back how it reads it and each
// change the user makes; the editor carries only the changed spans over into
// `content`, so text the area reads differently (CR LF line ends, no-break
// spaces, line separators, bytes that are not UTF-8) stays as it was stored.
class NoteEditor : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(NoteEditorState)
    QML_UNCREATABLE("Use NewItemViewState or NoteDetailViewState")
    Q_PROPERTY(AppState *appState READ appState WRITE setAppState NOTIFY appStateChanged FINAL)
    Q_PROPERTY(QString noteId READ noteId WRITE setNoteId NOTIFY noteIdChanged FINAL)
    Q_PROPERTY(QString content READ content WRITE setContent NOTIFY contentChanged FINAL)
    // Announced only when the text area has to show the content afresh.
    Q_PROPERTY(QString shownText READ shownText NOTIFY shownTextReplaced FINAL)
    Q_PROPERTY(QString savedMessage READ savedMessage NOTIFY savedMessageChanged FINAL)
    Q_PROPERTY(int selectedType READ selectedType WRITE setSelectedType NOTIFY selectedTypeChanged FINAL)
    // False until the kind and the content of the note are known; no editing
    // surface is built before.
    Q_PROPERTY(bool loaded READ isLoaded NOTIFY loadedChanged FINAL)

public:
    explicit NoteEditor(QObject *parent = nullptr);

    AppState *appState() const { return m_appState; }
    void setAppState(AppState *appState);

    const QString &noteId() const { return m_noteId; }
    void setNoteId(const QString &noteId);

    const QString &content() const { return m_text.stored(); }
    // Replaces the content as a whole, as loading and the to-do list do.
    void setContent(const QString &content);

    const QString &shownText() const { return m_text.shown(); }
    // The text area shows `shownText` as `reading`.
    Q_INVOKABLE void textShown(const QString &reading);
    // The user changed the text area's text into `reading`.
    Q_INVOKABLE void textEdited(const QString &reading);

    const QString &savedMessage() const { return m_savedMessage; }

    // The raw value of the kind being edited: 1 for a text note, 2 for a to-do list.
    int selectedType() const { return static_cast<int>(rawValue(m_selectedType)); }
    void setSelectedType(int raw);
    ItemType itemType() const { return m_selectedType; }

    const QList<TodoItem> &todoItems() const { return m_todoItems; }
    void setTodoItems(const QList<TodoItem> &items);

    bool isLoaded() const { return m_loaded; }

    // Called after the user left a note for the grid; the window passes none.
    void setOnSave(std::function<void()> onSave) { m_onSave = std::move(onSave); }

    // Makes sure one empty item is there to type into, and rewrites the content.
    Q_INVOKABLE void addItem();
    // Stores the content now; shows "Saved" when the store took it.
    Q_INVOKABLE virtual void saveNote() = 0;
    // Leaves the note for the grid, storing what the user changed.
    Q_INVOKABLE void goHome();
    // The application is quitting: stores what leaving would store.
    void storeOnQuit();

Q_SIGNALS:
    void appStateChanged();
    void noteIdChanged();
    void contentChanged();
    void shownTextReplaced();
    void savedMessageChanged();
    void selectedTypeChanged();
    void todoItemsChanged();
    void loadedChanged();
    // An item the user can type into was added or offered again by addItem().
    void itemOffered(const QUuid &id);

protected:
    enum class Leaving {
        stay,       // the note could not be stored: leaving would lose it
        discarded,  // nothing worth keeping; the note is gone
        stored,     // the user's changes are in the store
    };
    // What leaving does to the note; returns whether the editor may go.
    virtual Leaving storeForLeaving() = 0;

    void setItemType(ItemType type);
    void setLoaded(bool loaded);

    // Stores the record with this editor's content and kind, writing the note
    // anew when its row has gone. Prints the failure and returns false when
    // the store refuses it, shows "Saved" otherwise.
    bool storeContent(Note record);
    // Shows "Saved" for half a second.
    void showSaved();

    // The editor is done with its note: back to the grid, and after a
    // stored note the onSave callback.
    void finishLeaving(Leaving leaving);

private:
    void showGrid();
    void setSavedMessage(const QString &message);

    AppState *m_appState = nullptr;
    QString m_noteId;
    ShownText m_text;
    QString m_savedMessage;
    ItemType m_selectedType = ItemType::note;
    QList<TodoItem> m_todoItems;
    std::function<void()> m_onSave;
    bool m_loaded = false;
    bool m_left = false;
};
