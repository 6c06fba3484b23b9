#pragma once

#include "AppState.h"
#include "EmailConfigView.h"
#include "NoteCard.h"
#include "NoteListModel.h"
#include "NoteSearchCache.h"
#include "ServerResult.h"
#include "SyncManager.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <cstdint>
#include <vector>

// The note grid: loads the notes into the shared state, orders and narrows
// them for display, creates, opens and deletes notes; runs a sync from its
// header and asks for the e-mail address when none is configured.
class MainView : public QObject, public QQmlParserStatus {
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    QML_NAMED_ELEMENT(MainViewState)
    Q_PROPERTY(AppState *appState READ appState WRITE setAppState NOTIFY appStateChanged FINAL)
    Q_PROPERTY(SyncManager *syncManager READ syncManager WRITE setSyncManager NOTIFY syncManagerChanged FINAL)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged FINAL)
    Q_PROPERTY(bool isSearchBarFocused READ isSearchBarFocused WRITE setIsSearchBarFocused NOTIFY isSearchBarFocusedChanged FINAL)
    Q_PROPERTY(NoteListModel *filteredNotes READ filteredNotesModel CONSTANT FINAL)
    Q_PROPERTY(bool isRotating READ isRotating NOTIFY isRotatingChanged FINAL)
    Q_PROPERTY(QString syncMessageOnMac READ syncMessageOnMac NOTIFY syncMessageOnMacChanged FINAL)
    Q_PROPERTY(bool noEmailConfiguration READ noEmailConfiguration WRITE setNoEmailConfiguration
                   NOTIFY noEmailConfigurationChanged FINAL)

public:
    explicit MainView(QObject *parent = nullptr);

    AppState *appState() const { return m_appState; }
    void setAppState(AppState *state);
    SyncManager *syncManager() const { return m_syncManager; }
    void setSyncManager(SyncManager *manager);
    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    bool isSearchBarFocused() const { return m_isSearchBarFocused; }
    void setIsSearchBarFocused(bool focused);
    bool isRotating() const { return m_isRotating; }
    QString syncMessageOnMac() const { return m_syncMessageOnMac; }
    bool noEmailConfiguration() const { return m_noEmailConfiguration; }
    void setNoEmailConfiguration(bool value);

    // The notes shown: the shared notes, ordered by sortNotes, then narrowed
    // by filterNotes while the search text is not empty. Computed from the
    // folded texts the shared state keeps, with the same result.
    QList<Note> filteredNotes() const { return m_filteredModel.notes(); }
    NoteListModel *filteredNotesModel() { return &m_filteredModel; }

    // Reads the notes from the store; they reach the shared state on the next
    // turn of the event loop.
    Q_INVOKABLE void loadNotes();
    Q_INVOKABLE void addNewNote();
    Q_INVOKABLE void deleteNoteAndReload(const QString &noteId);
    // What a card's click does: opens that note's editor.
    Q_INVOKABLE void openNote(const QString &noteId);

    // The state of the card shown for a note: made when the note's card first
    // appears and kept while the note stays in the grid, whether or not its
    // card is scrolled into view; dropped when the note leaves the grid.
    Q_INVOKABLE NoteCard *cardStateForRow(int row);
    NoteCard *existingCardState(const QString &noteId) const { return m_cardStates.value(noteId).card; }

    // The sync button's action: starts startSync() and returns at once.
    Q_INVOKABLE void sync();
    // One sync with the address from the keyring, or the e-mail sheet when
    // there is none. Runs on the main thread; suspends only for the exchange.
    QCoro::Task<void> startSync();
    // The sheet's save action: the configuration exchange's result, unchanged.
    QCoro::Task<ServerResult> saveEmailConfiguration(QString email);
    // The state of a freshly built e-mail sheet, bound to noEmailConfiguration
    // and saving through saveEmailConfiguration. `owner` owns it, so it lives
    // as long as the sheet content that shows it.
    Q_INVOKABLE EmailConfigView *makeEmailConfigView(QObject *owner);

    // Favourites first, then the newest change first; a stable sort.
    static void sortNotes(QList<Note> &notes);
    // The notes whose content, read as UTF-8 and lower-cased, holds the
    // lower-cased search text; canonically equivalent forms match.
    static QList<Note> filterNotes(const QList<Note> &notes, const QString &searchText);
    // The form in which content and search text are compared.
    static QString searchForm(const QString &text);

    // Adaptive grid columns: as many of at least `minimum` width as fit.
    Q_INVOKABLE static int adaptiveColumnCount(qreal width, qreal minimum, qreal spacing);

    void classBegin() override {}
    void componentComplete() override;

Q_SIGNALS:
    void appStateChanged();
    void syncManagerChanged();
    void searchTextChanged();
    void isSearchBarFocusedChanged();
    void isRotatingChanged();
    void syncMessageOnMacChanged();
    void noEmailConfigurationChanged();

private:
    void takeNotes();
    void refreshModel();
    void findCardNotes();
    void keepCardStatesOfShownNotes();
    void setIsRotating(bool rotating);
    void setSyncMessageOnMac(const QString &message);
    // Shows the message and clears whatever stands half a second later.
    void showSyncMessage(const QString &message);

    QPointer<AppState> m_appState;
    QPointer<SyncManager> m_syncManager;
    QMetaObject::Connection m_notesConnection;
    QString m_searchText;
    bool m_isSearchBarFocused = false;
    bool m_isRotating = false;
    QString m_syncMessageOnMac;
    bool m_noEmailConfiguration = false;

    // The shared list as last taken (shared, not copied), and its positions
    // in display order.
    QList<Note> m_notes;
    std::vector<uint32_t> m_sortedOrder;
    QPointer<NoteSearchCache> m_searchCache;
    NoteListModel m_filteredModel;
    struct CardSlot {
        NoteCard *card = nullptr;
        qsizetype position = -1;   // the note's place in m_notes
    };
    QHash<QString, CardSlot> m_cardStates;
};
