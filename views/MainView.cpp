#include "MainView.h"

#include "Console.h"
#include "DBManager.h"
#include "EmailScramble.h"
#include "Keychain.h"
#include "Utf8.h"

#include <QMetaObject>
#include <QTimer>
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

ServerResult syncUnavailable()
{
    return ServerResult::failure(ServerError::own(QStringLiteral("Sync is not available")));
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

void MainView::setNoEmailConfiguration(bool value)
{
    if (m_noEmailConfiguration == value)
        return;
    m_noEmailConfiguration = value;
    Q_EMIT noEmailConfigurationChanged();
}

void MainView::setIsRotating(bool rotating)
{
    if (m_isRotating == rotating)
        return;
    m_isRotating = rotating;
    Q_EMIT isRotatingChanged();
}

void MainView::setSyncMessageOnMac(const QString &message)
{
    if (m_syncMessageOnMac == message)
        return;
    m_syncMessageOnMac = message;
    Q_EMIT syncMessageOnMacChanged();
}

void MainView::showSyncMessage(const QString &message)
{
    setSyncMessageOnMac(message);
    // Every message gets its own clear, which does not look at what it clears:
    // two syncs ending close together share the earlier clear.
    QTimer::singleShot(500, this, [this] { setSyncMessageOnMac(QString()); });
}

void MainView::sync()
{
    // Not awaited: the task finishes on its own while the button returns.
    startSync();
}

QCoro::Task<void> MainView::startSync()
{
    const std::optional<QString> stored = loadEmailFromKeychain();
    if (!stored) {
        printLine(QStringLiteral("no configuration yet"));
        setNoEmailConfiguration(true);
        co_return;
    }
    const std::optional<QString> email = xorDecrypt(*stored, QString::fromLatin1(emailXorKey));
    if (!email) {
        printLine(QStringLiteral("descrypt failed"));
        co_return;
    }
    const QString address = email->toLower();
    if (address.isEmpty() || !m_syncManager)
        co_return;

    // The screen may be replaced while the exchange runs; after the wait only
    // `self` is trusted.
    const QPointer<MainView> self(this);
    setIsRotating(true);
    QCoro::Task<ServerResult> exchange = m_syncManager->syncNotes(address);
    const ServerResult result = co_await exchange;
    if (!self)
        co_return;
    if (result.isSuccess()) {
        self->loadNotes();
        self->setIsRotating(false);
        self->showSyncMessage(result.message());
    } else {
        self->setIsRotating(false);
        self->showSyncMessage(QStringLiteral("Sync failed"));
    }
}

QCoro::Task<ServerResult> MainView::saveEmailConfiguration(QString email)
{
    if (!m_syncManager)
        co_return syncUnavailable();
    // Nothing of this object is touched after the wait, so it may be gone by then.
    QCoro::Task<ServerResult> configuring = m_syncManager->configEmailAddress(email);
    ServerResult result = co_await configuring;
    co_return result;
}

EmailConfigView *MainView::makeEmailConfigView(QObject *owner)
{
    const QPointer<MainView> self(this);
    EmailConfigView::PresentedBinding presented{
        [self] { return self && self->noEmailConfiguration(); },
        [self](bool value) {
            if (self)
                self->setNoEmailConfiguration(value);
        },
    };
    EmailConfigView::SaveCallback onSave = [self](QString email) -> QCoro::Task<ServerResult> {
        if (!self)
            return []() -> QCoro::Task<ServerResult> { co_return syncUnavailable(); }();
        return self->saveEmailConfiguration(std::move(email));
    };
    auto *view = new EmailConfigView(std::move(presented), std::move(onSave), owner);
    connect(this, &MainView::noEmailConfigurationChanged, view, &EmailConfigView::isPresentedChanged);
    return view;
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
