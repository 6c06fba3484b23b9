#include "NoteListModel.h"

#include "NoteIdMatcher.h"

#include <algorithm>
#include <numeric>

namespace {

// Beyond this many separate runs of removed or added rows, one reset costs
// the views less than the separate notices.
constexpr size_t maxChangedRuns = 32;

bool sameNote(const Note &a, const Note &b)
{
    return a.id == b.id && a.content == b.content && a.type == b.type && a.isdeleted == b.isdeleted
        && a.createdDate == b.createdDate && a.lastModifiedDate == b.lastModifiedDate && a.title == b.title
        && a.isfavorite == b.isfavorite && a.filelink == b.filelink;
}

// Marks the entries of the longest strictly increasing subsequence of the
// non-negative values of `targets`; negative values are never marked.
std::vector<uint8_t> longestIncreasing(const std::vector<int32_t> &targets)
{
    std::vector<uint8_t> marked(targets.size(), 0);
    // The usual case, nothing reordered, needs no search.
    int32_t previous = -1;
    bool increasing = true;
    for (int32_t target : targets) {
        if (target < 0)
            continue;
        if (target <= previous) {
            increasing = false;
            break;
        }
        previous = target;
    }
    if (increasing) {
        for (size_t i = 0; i < targets.size(); ++i)
            marked[i] = targets[i] >= 0;
        return marked;
    }
    // Patience sorting: tails[k] ends the best subsequence of length k + 1.
    std::vector<size_t> tails;
    std::vector<size_t> before(targets.size(), SIZE_MAX);
    for (size_t i = 0; i < targets.size(); ++i) {
        if (targets[i] < 0)
            continue;
        const auto place = std::lower_bound(tails.begin(), tails.end(), targets[i],
                                            [&targets](size_t index, int32_t value) { return targets[index] < value; });
        if (place != tails.begin())
            before[i] = *(place - 1);
        if (place == tails.end())
            tails.push_back(i);
        else
            *place = i;
    }
    for (size_t i = tails.empty() ? SIZE_MAX : tails.back(); i != SIZE_MAX; i = before[i])
        marked[i] = 1;
    return marked;
}

size_t runsOfUnmarked(const std::vector<uint8_t> &marked)
{
    size_t runs = 0;
    for (size_t i = 0; i < marked.size(); ++i)
        runs += !marked[i] && (i == 0 || marked[i - 1]) ? 1 : 0;
    return runs;
}

} // namespace

NoteListModel::NoteListModel(QObject *parent) : QAbstractListModel(parent) {}

int NoteListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant NoteListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Note &note = noteAt(index.row());
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

QList<Note> NoteListModel::notes() const
{
    QList<Note> shown;
    shown.reserve(qsizetype(m_rows.size()));
    for (uint32_t position : m_rows)
        shown.append(m_source.at(position));
    return shown;
}

QString NoteListModel::noteIdAt(int row) const
{
    return row >= 0 && row < count() ? noteAt(row).id : QString();
}

void NoteListModel::setNotes(const QList<Note> &notes)
{
    std::vector<uint32_t> rows(size_t(notes.size()));
    std::iota(rows.begin(), rows.end(), 0u);
    setRows(notes, std::move(rows));
}

void NoteListModel::reset(const QList<Note> &source, std::vector<uint32_t> rows)
{
    beginResetModel();
    m_source = source;
    m_rows = std::move(rows);
    endResetModel();
}

void NoteListModel::setRows(const QList<Note> &source, std::vector<uint32_t> rows)
{
    const int before = count();
    const size_t oldCount = m_rows.size();
    const size_t newCount = rows.size();
    const bool sameSource = m_source.isSharedWith(source);
    if (oldCount == 0 || newCount == 0) {
        if (oldCount != 0 || newCount != 0)
            reset(source, std::move(rows));
        else
            m_source = source;
        if (count() != before)
            Q_EMIT countChanged();
        return;
    }

    // The new row of every row shown now, -1 for a note that leaves.
    std::vector<int32_t> targets(oldCount, -1);
    if (sameSource) {
        std::vector<int32_t> rowOfPosition(size_t(source.size()), -1);
        for (size_t row = 0; row < newCount; ++row)
            rowOfPosition[rows[row]] = int32_t(row);
        for (size_t row = 0; row < oldCount; ++row)
            targets[row] = rowOfPosition[m_rows[row]];
    } else {
        NoteIdMatcher matcher(qsizetype(oldCount), [this](qsizetype row) -> const QString & {
            return noteAt(int(row)).id;
        });
        for (size_t row = 0; row < newCount; ++row) {
            const qsizetype old = matcher.find(source.at(rows[row]).id);
            if (old >= 0)
                targets[size_t(old)] = int32_t(row);
        }
    }

    // Rows that keep their relative order stay where they are; the few other
    // notes that stay are moved; the rest leave or come in as runs of rows.
    const std::vector<uint8_t> inOrder = longestIncreasing(targets);
    std::vector<uint8_t> kept(newCount, 0);
    size_t keptCount = 0;
    size_t moves = 0;
    std::vector<uint8_t> stays(oldCount, 0);
    for (size_t row = 0; row < oldCount; ++row) {
        if (targets[row] >= 0) {
            stays[row] = 1;
            kept[size_t(targets[row])] = 1;
            ++keptCount;
            moves += inOrder[row] ? 0 : 1;
        }
    }
    if (keptCount * 2 < std::max(oldCount, newCount)
        || runsOfUnmarked(stays) + runsOfUnmarked(kept) + moves > maxChangedRuns) {
        reset(source, std::move(rows));
        if (count() != before)
            Q_EMIT countChanged();
        return;
    }

    // Beside each row: its row to be, and its place in the list shown so far
    // (none for a row that comes in).
    constexpr uint32_t comesIn = UINT32_MAX;
    std::vector<uint32_t> previousPositions = m_rows;

    // Removals from the bottom up, one run at a time.
    for (size_t end = oldCount; end > 0;) {
        if (stays[end - 1]) {
            --end;
            continue;
        }
        size_t first = end - 1;
        while (first > 0 && !stays[first - 1])
            --first;
        beginRemoveRows(QModelIndex(), int(first), int(end - 1));
        m_rows.erase(m_rows.begin() + qsizetype(first), m_rows.begin() + qsizetype(end));
        targets.erase(targets.begin() + qsizetype(first), targets.begin() + qsizetype(end));
        previousPositions.erase(previousPositions.begin() + qsizetype(first),
                                previousPositions.begin() + qsizetype(end));
        endRemoveRows();
        end = first;
    }

    // The rows left show the new versions of their notes from here on.
    const QList<Note> previous = m_source;
    m_source = source;
    for (size_t row = 0; row < m_rows.size(); ++row)
        m_rows[row] = rows[size_t(targets[row])];

    // From the top down every row above `row` is in place: a run of new notes
    // comes in there, or the note that belongs there moves up.
    for (size_t row = 0; row < newCount;) {
        if (!kept[row]) {
            size_t last = row;
            while (last + 1 < newCount && !kept[last + 1])
                ++last;
            const qsizetype at = qsizetype(row);
            const qsizetype length = qsizetype(last - row + 1);
            beginInsertRows(QModelIndex(), int(row), int(last));
            m_rows.insert(m_rows.begin() + at, rows.begin() + at, rows.begin() + at + length);
            targets.insert(targets.begin() + at, size_t(length), -1);
            previousPositions.insert(previousPositions.begin() + at, size_t(length), comesIn);
            endInsertRows();
            row = last + 1;
            continue;
        }
        if (targets[row] != int32_t(row)) {
            size_t from = row + 1;
            while (targets[from] != int32_t(row))
                ++from;
            beginMoveRows(QModelIndex(), int(from), int(from), QModelIndex(), int(row));
            const auto rotateDown = [row, from](auto &values) {
                std::rotate(values.begin() + qsizetype(row), values.begin() + qsizetype(from),
                            values.begin() + qsizetype(from) + 1);
            };
            rotateDown(m_rows);
            rotateDown(targets);
            rotateDown(previousPositions);
            endMoveRows();
        }
        ++row;
    }

    if (!sameSource) {
        const auto changed = [&](size_t row) {
            return previousPositions[row] != comesIn
                && !sameNote(previous.at(previousPositions[row]), m_source.at(m_rows[row]));
        };
        for (size_t first = 0; first < m_rows.size();) {
            if (!changed(first)) {
                ++first;
                continue;
            }
            size_t last = first;
            while (last + 1 < m_rows.size() && changed(last + 1))
                ++last;
            Q_EMIT dataChanged(index(int(first)), index(int(last)));
            first = last + 1;
        }
    }
    if (count() != before)
        Q_EMIT countChanged();
}
