#pragma once

#include "Note.h"

#include <QAbstractListModel>
#include <QList>
#include <cstdint>
#include <vector>

// The notes a grid shows, in the order given: positions in a list of notes
// that the model shares with its owner, so a row costs no copy of its note.
// Updated by note identifier: rows of notes that stay keep their place, and
// when most rows change the model is reset instead.
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

    int count() const { return int(m_rows.size()); }
    const Note &noteAt(int row) const { return m_source.at(m_rows[size_t(row)]); }
    // The positions in the shared list, in row order.
    const std::vector<uint32_t> &positions() const { return m_rows; }
    // A copy of the notes shown, in row order.
    QList<Note> notes() const;

    // Shows the notes of `source` at the positions `rows`, in that order.
    void setRows(const QList<Note> &source, std::vector<uint32_t> rows);
    // Shows every note of `notes`, in its order.
    void setNotes(const QList<Note> &notes);

    Q_INVOKABLE QString noteIdAt(int row) const;

Q_SIGNALS:
    void countChanged();

private:
    void reset(const QList<Note> &source, std::vector<uint32_t> rows);

    QList<Note> m_source;
    std::vector<uint32_t> m_rows;
};
