#include "NoteCard.h"

#include "Console.h"
#include "DBManager.h"
#include "ProblemNotice.h"
#include "TodoItem.h"
#include "Utf8.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <nlohmann/json.hpp>

namespace {

// The character classes of the preview, written out because QChar::isSpace
// covers a different set.
bool isNewline(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isWhitespace(char32_t c)
{
    return c == 0x09 || QChar::category(c) == QChar::Separator_Space;
}

bool isWhitespaceOrNewline(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return category == QChar::Separator_Space || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph || isNewline(c) || c == 0x09;
}

// Every class member here lies in the BMP, so working on UTF-16 code units
// never splits a character that could match.
template <typename Predicate>
QString trimmed(const QString &text, Predicate inClass)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && inClass(text.at(begin).unicode()))
        ++begin;
    while (end > begin && inClass(text.at(end - 1).unicode()))
        --end;
    return text.mid(begin, end - begin);
}

QStringList splitAtNewlines(const QString &text)
{
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isNewline(text.at(i).unicode())) {
            pieces << text.mid(start, i - start);
            start = i + 1;
        }
    }
    pieces << text.mid(start);
    return pieces;
}

QString plainPreview(const QString &text)
{
    QStringList kept;
    for (const QString &piece : splitAtNewlines(text)) {
        const QString line = trimmed(piece, isWhitespaceOrNewline);
        if (!line.isEmpty())
            kept << line;
    }
    return kept.join(QStringLiteral(", "));
}

// What went wrong with a to-do list's stored form, in words for the user
// rather than the decoder's.
QString todoDecodeProblem(const QByteArray &content)
{
    if (content.trimmed().isEmpty())
        return QStringLiteral("The list is empty.");
    if (!nlohmann::json::accept(content.cbegin(), content.cend()))
        return QStringLiteral("The data is not in the right format.");
    return QStringLiteral("The data is not a list of to-do items.");
}

QString todoPreview(const QByteArray &content)
{
    QList<TodoItem> items;
    try {
        items = decodeTodoItems(content);
    } catch (const std::exception &) {
        return QStringLiteral("Error parsing JSON: ") + todoDecodeProblem(content);
    }
    QStringList kept;
    for (const TodoItem &item : items) {
        if (item.isCompleted)
            continue;
        const QString text = trimmed(item.text, isWhitespace);
        if (!text.isEmpty())
            kept << text;
    }
    if (kept.isEmpty())
        return QStringLiteral("No uncompleted tasks");
    return kept.join(QStringLiteral(", "));
}

QDateTime lastChange(const Note &note)
{
    return QDateTime::fromSecsSinceEpoch(note.lastModifiedDate).toLocalTime();
}

} // namespace

NoteCard::NoteCard(QObject *parent) : QObject(parent) {}

void NoteCard::setNote(const Note &note)
{
    const bool favoriteChanged = !m_hasNote || note.isfavorite != m_note.isfavorite;
    m_note = note;
    m_hasNote = true;
    if (favoriteChanged)
        setLocalIsFavorite(note.isfavorite == 1);
    Q_EMIT noteChanged();
}

void NoteCard::setIsFlipped(bool flipped)
{
    if (m_isFlipped == flipped)
        return;
    m_isFlipped = flipped;
    Q_EMIT isFlippedChanged();
    if (!flipped)
        Q_EMIT flipBack();
}

void NoteCard::setShowDeleteConfirmation(bool shown)
{
    if (m_showDeleteConfirmation == shown)
        return;
    m_showDeleteConfirmation = shown;
    Q_EMIT showDeleteConfirmationChanged();
}

void NoteCard::setLocalIsFavorite(bool favorite)
{
    if (m_localIsFavorite == favorite)
        return;
    m_localIsFavorite = favorite;
    Q_EMIT localIsFavoriteChanged();
}

QString NoteCard::timeText() const
{
    return QLocale::system().toString(lastChange(m_note).time(), QLocale::ShortFormat);
}

QString NoteCard::dateText() const
{
    return QLocale::system().toString(lastChange(m_note).date(), QLocale::ShortFormat);
}

QString NoteCard::fillColorName() const
{
    switch (m_note.type) {
    case 1: return QStringLiteral("CustomizeBlueColor");
    case 2: return QStringLiteral("CustomizeYellowColor");
    default: return QStringLiteral("CardBGColor");
    }
}

QString NoteCard::previewText(const QByteArray &content, int64_t type)
{
    const std::optional<QString> text = strictUtf8(content);
    if (!text)
        return QStringLiteral("Unable to decode note content");
    switch (type) {
    case 1: return plainPreview(*text);
    case 2: return todoPreview(content);
    default: return QStringLiteral("Invalid type");
    }
}

void NoteCard::flip()
{
    setIsFlipped(!m_isFlipped);
}

void NoteCard::toggleFavorite()
{
    setLocalIsFavorite(!m_localIsFavorite);
    try {
        DBManager::shared().updateFavoriteStatus(m_note.id, m_localIsFavorite ? 1 : 0);
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error updating favorite status: ") + errorDescription(error));
        ProblemNotice::shared().report(ProblemNotice::Action::favourite, error);
        setLocalIsFavorite(!m_localIsFavorite);
    }
}

void NoteCard::click()
{
    if (!m_isFlipped)
        Q_EMIT tap();
}

void NoteCard::confirmDelete()
{
    setShowDeleteConfirmation(false);
    Q_EMIT deleteConfirmed();
}

void NoteCard::cancelDelete()
{
    setShowDeleteConfirmation(false);
}
