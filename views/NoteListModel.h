#pragma once

#include "Note.h"

#include <QAbstractListModel>
#include <QList>

// The notes a grid shows, in the order given. Updated in place by note
// identifier, so that the cards of notes that stay keep their own state.
class NoteListModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged FINAL)

public:
    enum Role {
        NoteRole = Qt::UserRole + 1,   // the whole Note
        NoteIdRole,
        TypeRole,
        IsFavoriteRole,
        LastModifiedDateRole,
    };

    explicit NoteListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<Note> &notes() const { return m_notes; }
    int count() const { return int(m_notes.size()); }

    // Brings the rows to `notes`: removes, moves and inserts rows by note
    // identifier and reports a changed note as changed data.
    void setNotes(const QList<Note> &notes);

    Q_INVOKABLE QString noteIdAt(int row) const;

Q_SIGNALS:
    void countChanged();

private:
    void removeMissing(const QList<Note> &notes);

    QList<Note> m_notes;
};
