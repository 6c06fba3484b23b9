#pragma once

#include "Note.h"

#include <QList>
#include <QObject>
#include <QString>

// What the window's views share: the notes the grid shows and the screen shown.
class AppState : public QObject {
    Q_OBJECT

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

    explicit AppState(QObject *parent = nullptr);

    const QList<Note> &notes() const { return m_notes; }
    void setNotes(QList<Note> notes);            // announces every assignment

    const AppView &currentView() const { return m_currentView; }
    void setCurrentView(const AppView &view);    // announces every assignment

Q_SIGNALS:
    void notesChanged();
    void currentViewChanged();

private:
    QList<Note> m_notes;
    AppView m_currentView = AppView::main();
};
