#pragma once

#include <QHash>
#include <QString>
#include <QStringView>

// Finds the notes of an earlier list by identifier during a pass over a later
// list that mostly keeps the earlier order, as a reload does: the next
// earlier notes are tried first, the few notes that moved are looked for one
// by one, and only when many have moved is a table of every identifier made.
template <typename IdAt>
class NoteIdMatcher {
public:
    // `idAt(position)` gives the identifier at a position of the earlier list.
    NoteIdMatcher(qsizetype count, IdAt idAt) : m_count(count), m_idAt(std::move(idAt)) {}

    // The earlier position of `id`, or -1.
    qsizetype find(const QString &id)
    {
        for (qsizetype ahead = 0; ahead < 2 && m_next + ahead < m_count; ++ahead) {
            if (m_idAt(m_next + ahead) == id) {
                m_next += ahead + 1;
                return m_next - 1;
            }
        }
        if (m_searches < maxSearches) {
            ++m_searches;
            for (qsizetype position = 0; position < m_count; ++position) {
                if (m_idAt(position) == id)
                    return position;
            }
            return -1;
        }
        if (m_byId.isEmpty()) {
            m_byId.reserve(m_count);
            for (qsizetype position = 0; position < m_count; ++position)
                m_byId.insert(m_idAt(position), position);
        }
        return m_byId.value(id, -1);
    }

private:
    static constexpr int maxSearches = 8;

    qsizetype m_count;
    IdAt m_idAt;
    qsizetype m_next = 0;
    int m_searches = 0;
    QHash<QStringView, qsizetype> m_byId;
};
