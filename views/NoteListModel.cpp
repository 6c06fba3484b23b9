#include "NoteListModel.h"

#include <QSet>

namespace {

bool sameNote(const Note &a, const Note &b)
{
    return a.id == b.id && a.content == b.content && a.type == b.type && a.isdeleted == b.isdeleted
        && a.createdDate == b.createdDate && a.lastModifiedDate == b.lastModifiedDate && a.title == b.title
        && a.isfavorite == b.isfavorite && a.filelink == b.filelink;
}

} // namespace

NoteListModel::NoteListModel(QObject *parent) : QAbstractListModel(parent) {}

int NoteListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_notes.size());
}

QVariant NoteListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Note &note = m_notes.at(index.row());
    switch (role) {
    case NoteRole: return QVariant::fromValue(note);
    case Qt::DisplayRole:
    case NoteIdRole: return note.id;
    case TypeRole: return qlonglong(note.type);
    case IsFavoriteRole: return qlonglong(note.isfavorite);
    case LastModifiedDateRole: return qlonglong(note.lastModifiedDate);
    default: return {};
    }
}

QHash<int, QByteArray> NoteListModel::roleNames() const
{
    return {
        {NoteRole, "note"},
        {NoteIdRole, "noteId"},
        {TypeRole, "type"},
        {IsFavoriteRole, "isfavorite"},
        {LastModifiedDateRole, "lastModifiedDate"},
    };
}

QString NoteListModel::noteIdAt(int row) const
{
    return row >= 0 && row < m_notes.size() ? m_notes.at(row).id : QString();
}

void NoteListModel::removeMissing(const QList<Note> &notes)
{
    QSet<QString> kept;
    kept.reserve(notes.size());
    for (const Note &note : notes)
        kept.insert(note.id);
    // From the end, one contiguous run of rows at a time.
    qsizetype row = m_notes.size() - 1;
    while (row >= 0) {
        if (kept.contains(m_notes.at(row).id)) {
            --row;
            continue;
        }
        qsizetype first = row;
        while (first > 0 && !kept.contains(m_notes.at(first - 1).id))
            --first;
        beginRemoveRows(QModelIndex(), int(first), int(row));
        m_notes.remove(first, row - first + 1);
        endRemoveRows();
        row = first - 1;
    }
}

void NoteListModel::setNotes(const QList<Note> &notes)
{
    const int before = count();
    if (m_notes.isEmpty() || notes.isEmpty()) {
        if (!m_notes.isEmpty() || !notes.isEmpty()) {
            beginResetModel();
            m_notes = notes;
            endResetModel();
        }
    } else {
        removeMissing(notes);
        // The rows left are all in `notes`; an id not among them is new.
        QSet<QString> present;
        present.reserve(m_notes.size());
        for (const Note &note : std::as_const(m_notes))
            present.insert(note.id);
        // Row by row, every row before `row` already matches `notes`.
        for (qsizetype row = 0; row < notes.size(); ++row) {
            const Note &wanted = notes.at(row);
            if (row < m_notes.size() && m_notes.at(row).id == wanted.id) {
                if (!sameNote(m_notes.at(row), wanted)) {
                    m_notes[row] = wanted;
                    const QModelIndex changed = index(int(row));
                    Q_EMIT dataChanged(changed, changed);
                }
                continue;
            }
            qsizetype from = -1;
            for (qsizetype other = row + 1; other < m_notes.size(); ++other) {
                if (m_notes.at(other).id == wanted.id) {
                    from = other;
                    break;
                }
            }
            if (from >= 0) {
                beginMoveRows(QModelIndex(), int(from), int(from), QModelIndex(), int(row));
                m_notes.move(from, row);
                endMoveRows();
                if (!sameNote(m_notes.at(row), wanted)) {
                    m_notes[row] = wanted;
                    const QModelIndex changed = index(int(row));
                    Q_EMIT dataChanged(changed, changed);
                }
                continue;
            }
            // A run of new notes goes in at once.
            qsizetype last = row;
            while (last + 1 < notes.size() && !present.contains(notes.at(last + 1).id))
                ++last;
            beginInsertRows(QModelIndex(), int(row), int(last));
            for (qsizetype i = row; i <= last; ++i)
                m_notes.insert(i, notes.at(i));
            endInsertRows();
            row = last;
        }
    }
    if (count() != before)
        Q_EMIT countChanged();
}
