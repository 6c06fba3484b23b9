#pragma once

#include "Note.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// The notes as one read of the store found them, or the error that ended
// the read (a null error when it succeeded).
struct FetchedNotes {
    QList<Note> notes;
    QString error;
    // Where the read of the whole list failed on a damaged file: the notes
    // were then read one by one, `notes` holds those that could be, and
    // `problem` tells the user how many could not.
    bool readOneByOne = false;
    // What the user is told about the failure; empty when it succeeded.
    QString problem;
};

// The notes the grid shows, read from the store. A read that fails on a
// damaged file falls back to reading the notes one by one. Safe on any thread.
FetchedNotes fetchNotesForGrid();

// What the window's views share: the notes the grid shows and the screen shown.
class AppState : public QObject {
    Q_OBJECT
    // The screen for QML: its kind and the identifier an editor works on.
    Q_PROPERTY(ViewKind currentViewKind READ currentViewKind NOTIFY currentViewChanged FINAL)
    Q_PROPERTY(QString currentNoteId READ currentNoteId NOTIFY currentViewChanged FINAL)
    Q_PROPERTY(int noteCount READ noteCount NOTIFY notesChanged FINAL)

public:
    // The three screens; the two editors carry the identifier of their note.
    struct AppView {
        enum class Kind { newNote, noteDetail, main };
        Kind kind = Kind::main;
        QString noteId;

        static AppView newNote(const QString &id) { return AppView{Kind::newNote, id}; }
        static AppView noteDetail(const QString &id) { return AppView{Kind::noteDetail, id}; }
        static AppView main() { return AppView{Kind::main, QString()}; }

        friend bool operator==(const AppView &a, const AppView &b)
        {
            if (a.kind != b.kind)
                return false;
            return a.kind == Kind::main || a.noteId == b.noteId;
        }
    };

    // AppView::Kind as QML sees it, value for value.
    enum ViewKind {
        NewNoteScreen = int(AppView::Kind::newNote),
        NoteDetailScreen = int(AppView::Kind::noteDetail),
        MainScreen = int(AppView::Kind::main),
    };
    Q_ENUM(ViewKind)

    explicit AppState(QObject *parent = nullptr);

    const QList<Note> &notes() const { return m_notes; }
    void setNotes(QList<Note> notes);            // announces every assignment

    // A read of all notes started while the window was still being built,
    // for the grid's first load to take instead of reading again. Taken
    // once; empty when none was started or it has been taken.
    void setNotesReadAhead(QFuture<FetchedNotes> read) { m_notesReadAhead = std::move(read); }
    std::optional<QFuture<FetchedNotes>> takeNotesReadAhead() { return std::exchange(m_notesReadAhead, std::nullopt); }

    const AppView &currentView() const { return m_currentView; }
    void setCurrentView(const AppView &view);    // announces every assignment

    ViewKind currentViewKind() const { return ViewKind(int(m_currentView.kind)); }
    QString currentNoteId() const { return m_currentView.noteId; }
    int noteCount() const { return int(m_notes.size()); }

    // The screen changes QML may ask for.
    Q_INVOKABLE void showMain() { setCurrentView(AppView::main()); }
    Q_INVOKABLE void showNewNote(const QString &noteId) { setCurrentView(AppView::newNote(noteId)); }
    Q_INVOKABLE void showNoteDetail(const QString &noteId) { setCurrentView(AppView::noteDetail(noteId)); }

Q_SIGNALS:
    void notesChanged();
    void currentViewChanged();

private:
    QList<Note> m_notes;
    std::optional<QFuture<FetchedNotes>> m_notesReadAhead;
    AppView m_currentView = AppView::main();
};
