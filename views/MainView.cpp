#include "MainView.h"

#include "Console.h"
#include "DBManager.h"
#include "EmailScramble.h"
#include "Keychain.h"
#include "ProblemNotice.h"
#include "KeyringThread.h"
#include "MessageTiming.h"
#include "Utf8.h"

#include <QCoro/QCoroFuture>
#include <QMetaObject>
#include <QQmlEngine>
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
            takeNotes();
            refreshModel();
        });
    }
    m_searchCache = NoteSearchCache::of(state);
    takeNotes();
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
    // Precise: a coarse timer may end a long message 5% early.
    QTimer::singleShot(MessageTiming::showTime(message, std::chrono::milliseconds(500)), Qt::PreciseTimer, this,
                       [this] { setSyncMessageOnMac(QString()); });
}

void MainView::sync()
{
    // Not awaited: the task finishes on its own while the button returns.
    startSync();
}

QCoro::Task<void> MainView::startSync()
{
    // The screen may be replaced while the keyring or the exchange is waited
    // for; after a wait only `self` is trusted.
    const QPointer<MainView> self(this);
    // The keyring may hold its answer behind an unlock prompt for as long as
    // the user takes; the window goes on drawing meanwhile.
    QFuture<std::optional<QString>> reading = loadEmailFromKeychainLater();
    const std::optional<QString> stored = co_await reading;
    if (!self)
        co_return;
    if (!stored) {
        printLine(QStringLiteral("no configuration yet"));
        self->setNoEmailConfiguration(true);
        co_return;
    }
    const std::optional<QString> email = xorDecrypt(*stored, QString::fromLatin1(emailXorKey));
    if (!email) {
        printLine(QStringLiteral("descrypt failed"));
        co_return;
    }
    const QString address = email->toLower();
    if (address.isEmpty() || !self->m_syncManager)
        co_return;

    self->setIsRotating(true);
    QCoro::Task<ServerResult> exchange = self->m_syncManager->syncNotes(address);
    const ServerResult result = co_await exchange;
    if (!self)
        co_return;
    if (result.isSuccess()) {
        self->loadNotes();
        self->setIsRotating(false);
        self->showSyncMessage(result.message());
    } else {
        self->setIsRotating(false);
        // A refusal the service explained (a rate limit) is shown in its words.
        const QString &said = result.error().serviceMessage;
        self->showSyncMessage(said.isEmpty() ? QStringLiteral("Sync failed") : said);
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
    // A read started with the window is taken instead; at most the rest of
    // it is waited for.
    auto readAhead = m_appState ? m_appState->takeNotesReadAhead() : std::nullopt;
    FetchedNotes fetched = readAhead ? readAhead->takeResult() : fetchNotesForGrid();
    if (!fetched.problem.isEmpty())
        ProblemNotice::shared().report(fetched.problem);
    if (!fetched.error.isNull()) {
        printLine(QStringLiteral("Error fetching notes: ") + fetched.error);
        // Read one by one, the notes that could be read are shown all the same.
        if (!fetched.readOneByOne)
            return;
    }
    QList<Note> notes = std::move(fetched.notes);
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
        ProblemNotice::shared().report(ProblemNotice::Action::create, error);
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
        ProblemNotice::shared().report(ProblemNotice::Action::remove, error);
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

void MainView::takeNotes()
{
    m_notes = m_appState ? m_appState->notes() : QList<Note>();
    if (m_searchCache)
        m_searchCache->update(m_notes);
    findCardNotes();
    // The order's keys side by side: sorting them touches no note.
    struct Key {
        int64_t isfavorite;
        int64_t lastModifiedDate;
        uint32_t position;
    };
    std::vector<Key> keys;
    keys.reserve(size_t(m_notes.size()));
    for (qsizetype i = 0; i < m_notes.size(); ++i) {
        const Note &note = m_notes.at(i);
        keys.push_back({note.isfavorite, note.lastModifiedDate, uint32_t(i)});
    }
    // Equal keys keep the shared list's order, as sortNotes does.
    std::sort(keys.begin(), keys.end(), [](const Key &a, const Key &b) {
        if (a.isfavorite != b.isfavorite)
            return a.isfavorite > b.isfavorite;
        if (a.lastModifiedDate != b.lastModifiedDate)
            return a.lastModifiedDate > b.lastModifiedDate;
        return a.position < b.position;
    });
    m_sortedOrder.resize(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        m_sortedOrder[i] = keys[i].position;
}

void MainView::refreshModel()
{
    if (m_searchText.isEmpty() || !m_searchCache) {
        m_filteredModel.setRows(m_notes, m_sortedOrder);
    } else {
        // Another grid screen of the same state may have taken a newer list.
        m_searchCache->update(m_notes);
        m_searchCache->foldPending();
        const QByteArray needle = NoteSearchCache::foldedNeedle(m_searchText);
        m_filteredModel.setRows(m_notes, m_searchCache->matching(m_sortedOrder, needle));
    }
    keepCardStatesOfShownNotes();
}

NoteCard *MainView::cardStateForRow(int row)
{
    if (row < 0 || row >= m_filteredModel.count())
        return nullptr;
    const Note &note = m_filteredModel.noteAt(row);
    const auto existing = m_cardStates.constFind(note.id);
    if (existing != m_cardStates.cend())
        return existing->card;
    auto *card = new NoteCard(this);
    QQmlEngine::setObjectOwnership(card, QQmlEngine::CppOwnership);
    card->setNote(note);
    const QString noteId = note.id;
    connect(card, &NoteCard::tap, this, [this, noteId] { openNote(noteId); });
    connect(card, &NoteCard::flipBack, this, &MainView::loadNotes);
    connect(card, &NoteCard::deleteConfirmed, this, [this, noteId] { deleteNoteAndReload(noteId); });
    m_cardStates.insert(noteId, CardSlot{card, qsizetype(m_filteredModel.positions()[size_t(row)])});
    return card;
}

void MainView::findCardNotes()
{
    // A reload mostly keeps each note in its place; the identifiers are
    // looked up only once one has moved.
    QHash<QStringView, qsizetype> positionById;
    for (auto it = m_cardStates.begin(); it != m_cardStates.end(); ++it) {
        const qsizetype position = it->position;
        if (position >= 0 && position < m_notes.size() && m_notes.at(position).id == it.key())
            continue;
        if (positionById.isEmpty()) {
            positionById.reserve(m_notes.size());
            for (qsizetype i = 0; i < m_notes.size(); ++i)
                positionById.insert(m_notes.at(i).id, i);
        }
        it->position = positionById.value(it.key(), -1);
    }
}

void MainView::keepCardStatesOfShownNotes()
{
    if (m_cardStates.isEmpty())
        return;
    std::vector<int32_t> rowOfPosition(size_t(m_notes.size()), -1);
    const std::vector<uint32_t> &positions = m_filteredModel.positions();
    for (size_t row = 0; row < positions.size(); ++row)
        rowOfPosition[positions[row]] = int32_t(row);
    for (auto it = m_cardStates.begin(); it != m_cardStates.end();) {
        const qsizetype position = it->position;
        if (position < 0 || rowOfPosition[size_t(position)] < 0) {
            it->card->deleteLater();
            it = m_cardStates.erase(it);
        } else {
            it->card->setNote(m_notes.at(position));
            ++it;
        }
    }
}

int MainView::adaptiveColumnCount(qreal width, qreal minimum, qreal spacing)
{
    if (minimum <= 0 || width <= minimum)
        return 1;
    return std::max(1, int(std::floor((width + spacing) / (minimum + spacing))));
}
