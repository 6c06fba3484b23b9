#include "MainView.h"

#include "Console.h"
#include "DBManager.h"
#include "Utf8.h"

#include <QMetaObject>
#include <algorithm>
#include <cmath>

namespace {

bool comesBefore(const Note &a, const Note &b)
{
    if (a.isfavorite != b.isfavorite)
        return a.isfavorite > b.isfavorite;
    return a.lastModifiedDate > b.lastModifiedDate;
}

// Null for content that is not UTF-8: such a note never matches a search.
QString searchableContent(const QByteArray &content)
{
    const std::optional<QString> text = strictUtf8(content);
    if (!text)
        return QString();
    QString form = MainView::searchForm(*text);
    if (form.isNull())
        form = QString(QLatin1String(""));   // empty, but not null
    return form;
}

} // namespace

MainView::MainView(QObject *parent) : QObject(parent) {}

void MainView::setAppState(AppState *state)
{
    if (m_appState == state)
        return;
    if (m_notesConnection)
        disconnect(m_notesConnection);
    m_appState = state;
    if (state) {
        m_notesConnection = connect(state, &AppState::notesChanged, this, [this] {
            rebuildCache();
            refreshModel();
        });
    }
    rebuildCache();
    refreshModel();
    Q_EMIT appStateChanged();
}

void MainView::setSyncManager(SyncManager *manager)
{
    if (m_syncManager == manager)
        return;
    m_syncManager = manager;
    Q_EMIT syncManagerChanged();
}

void MainView::setSearchText(const QString &text)
{
    if (m_searchText == text)
        return;
    m_searchText = text;
    refreshModel();
    Q_EMIT searchTextChanged();
}

void MainView::setIsSearchBarFocused(bool focused)
{
    if (m_isSearchBarFocused == focused)
        return;
    m_isSearchBarFocused = focused;
    Q_EMIT isSearchBarFocusedChanged();
}

void MainView::componentComplete()
{
    // The screen has just been shown.
    loadNotes();
}

void MainView::loadNotes()
{
    QList<Note> notes;
    try {
        notes = DBManager::shared().fetchAllNotes();
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error fetching notes: ") + errorDescription(error));
        return;
    }
    // Published on the next turn of the event loop, as every caller expects.
    QPointer<AppState> state = m_appState;
    QMetaObject::invokeMethod(
        this,
        [state, notes = std::move(notes)]() mutable {
            if (state)
                state->setNotes(std::move(notes));
        },
        Qt::QueuedConnection);
}

void MainView::addNewNote()
{
    QString noteId;
    try {
        noteId = DBManager::shared().createNote();
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error creating new note: ") + errorDescription(error));
        return;
    }
    if (m_appState)
        m_appState->setCurrentView(AppState::AppView::newNote(noteId));
}

void MainView::deleteNoteAndReload(const QString &noteId)
{
    try {
        DBManager::shared().deleteNote(noteId);
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error deleting note: ") + errorDescription(error));
        return;
    }
    loadNotes();
}

void MainView::openNote(const QString &noteId)
{
    if (m_appState)
        m_appState->setCurrentView(AppState::AppView::noteDetail(noteId));
}

void MainView::sortNotes(QList<Note> &notes)
{
    std::stable_sort(notes.begin(), notes.end(), comesBefore);
}

QString MainView::searchForm(const QString &text)
{
    // Lower-case first, then compose: both sides end in the same canonical
    // form, so a precomposed and a decomposed letter compare equal.
    return text.toLower().normalized(QString::NormalizationForm_C);
}

QList<Note> MainView::filterNotes(const QList<Note> &notes, const QString &searchText)
{
    const QString needle = searchForm(searchText);
    QList<Note> kept;
    for (const Note &note : notes) {
        const std::optional<QString> text = strictUtf8(note.content);
        if (text && searchForm(*text).contains(needle))
            kept.append(note);
    }
    return kept;
}

QList<Note> MainView::filteredNotes() const
{
    QList<Note> shown;
    if (!m_appState)
        return shown;
    const QList<Note> &notes = m_appState->notes();
    shown.reserve(qsizetype(m_sortedOrder.size()));
    if (m_searchText.isEmpty()) {
        for (qsizetype index : m_sortedOrder)
            shown.append(notes.at(index));
        return shown;
    }
    const QString needle = searchForm(m_searchText);
    // The texts are kept in display order, so the scan walks them in turn.
    for (size_t position = 0; position < m_sortedOrder.size(); ++position) {
        const QString &text = m_searchableText[position];
        if (!text.isNull() && text.contains(needle))
            shown.append(notes.at(m_sortedOrder[position]));
    }
    return shown;
}

void MainView::rebuildCache()
{
    m_sortedOrder.clear();
    m_searchableText.clear();
    if (!m_appState)
        return;
    const QList<Note> &notes = m_appState->notes();
    m_sortedOrder.resize(size_t(notes.size()));
    for (qsizetype i = 0; i < notes.size(); ++i)
        m_sortedOrder[size_t(i)] = i;
    std::stable_sort(m_sortedOrder.begin(), m_sortedOrder.end(),
                     [&notes](qsizetype a, qsizetype b) { return comesBefore(notes.at(a), notes.at(b)); });
    m_searchableText.reserve(m_sortedOrder.size());
    for (qsizetype index : m_sortedOrder)
        m_searchableText.push_back(searchableContent(notes.at(index).content));
}

void MainView::refreshModel()
{
    m_filteredModel.setNotes(filteredNotes());
}

int MainView::adaptiveColumnCount(qreal width, qreal minimum, qreal spacing)
{
    if (minimum <= 0 || width <= minimum)
        return 1;
    return std::max(1, int(std::floor((width + spacing) / (minimum + spacing))));
}
