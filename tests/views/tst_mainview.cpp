#include "MainView.h"
#include "ViewsTestSupport.h"

#include <QAbstractItemModelTester>
#include <QtConcurrent/QtConcurrentRun>
#include <QSignalSpy>
#include <QTest>

class MainViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sortNotes_data();
    void sortNotes();
    void filterNotes_data();
    void filterNotes();
    void filteredNotesOrdersThenNarrows();
    void filteredNotesFollowsNotesAndSearchText();
    void loadNotesPublishesOnTheNextTurn();
    void loadNotesFailureKeepsTheList();
    void loadNotesTakesAReadAheadOnce();
    void failedReadAheadPrintsAndKeepsTheList();
    void addNewNoteOpensItsEditor();
    void addNewNoteFailureStaysOnTheGrid();
    void deleteNoteAndReload();
    void deletingAMissingNotePrintsAndKeepsTheList();
    void modelKeepsRowsOfNotesThatStay();
    void modelSignalsReplayToTheNewRows_data();
    void modelSignalsReplayToTheNewRows();
    void searchCacheFollowsChangedContentOnly();
    void searchOfManyMixedScriptNotesMatchesThePlainFilter();
    void searchFindsANeedleWhereverItSits();
    void cardStatesLiveAsLongAsTheirNotesAreShown();
    void adaptiveColumns_data();
    void adaptiveColumns();
};

using Notes = QList<Note>;

void MainViewTest::sortNotes_data()
{
    QTest::addColumn<Notes>("notes");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("favourites first, newest first")
        << Notes{makeNote("a", "", 1, 0, 500), makeNote("b", "", 1, 1, 100), makeNote("c", "", 1, 0, 900),
                 makeNote("d", "", 1, 1, 300)}
        << QStringList{"d", "b", "c", "a"};
    QTest::newRow("old favourite before new non-favourite")
        << Notes{makeNote("new", "", 1, 0, 1'000'000), makeNote("old", "", 1, 1, 1)}
        << QStringList{"old", "new"};
    QTest::newRow("ties keep the store order")
        << Notes{makeNote("f1", "", 1, 1, 700), makeNote("n1", "", 1, 0, 700), makeNote("f2", "", 1, 1, 700),
                 makeNote("n2", "", 1, 0, 700), makeNote("f3", "", 1, 1, 700)}
        << QStringList{"f1", "f2", "f3", "n1", "n2"};
    QTest::newRow("isfavorite compared as a signed integer")
        << Notes{makeNote("neg", "", 1, -1, 900), makeNote("zero", "", 1, 0, 100), makeNote("two", "", 1, 2, 50)}
        << QStringList{"two", "zero", "neg"};
    QTest::newRow("times before 1970 sort as signed")
        << Notes{makeNote("before", "", 1, 0, -5), makeNote("after", "", 1, 0, 5)}
        << QStringList{"after", "before"};
    QTest::newRow("empty") << Notes{} << QStringList{};
}

void MainViewTest::sortNotes()
{
    QFETCH(Notes, notes);
    QFETCH(QStringList, expected);
    MainView::sortNotes(notes);
    QCOMPARE(idsOf(notes), expected);
}

void MainViewTest::filterNotes_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("expected");

    // Searched over the notes of filterNotes() below.
    QTest::newRow("a blank is a search")
        << " " << QStringList{"plain", "capital", "titled", "todo", "decomposed", "precomposed"};
    QTest::newRow("capitals match lower case") << "GROCERY" << QStringList{"plain"};
    QTest::newRow("lower case matches capitals") << "meeting" << QStringList{"capital"};
    QTest::newRow("non-ASCII capitals") << "ÉCOLE" << QStringList{"decomposed", "precomposed"};
    QTest::newRow("decomposed search matches precomposed")
        << QString::fromUtf8("e\xcc\x81" "cole") << QStringList{"decomposed", "precomposed"};
    QTest::newRow("to-do key text") << "iscompleted" << QStringList{"todo"};
    QTest::newRow("title is not searched") << "secret" << QStringList{};
    QTest::newRow("no diacritic folding") << "ecole" << QStringList{};
    QTest::newRow("capital sharp s") << QString::fromUtf8("STRA\xe1\xba\x9e" "E") << QStringList{"capital"};
}

void MainViewTest::filterNotes()
{
    QFETCH(QString, search);
    QFETCH(QStringList, expected);
    const QByteArray todoJson =
        R"([{"id":"6F1C2A4E-1111-4C3B-9D2E-123456789ABC","text":"buy milk","isCompleted":false}])";
    const Notes notes{
        makeNote("plain", "my grocery list"),
        makeNote("capital", QByteArray("MEETING in der stra\xc3\x9f" "e")),
        makeNote("empty", ""),
        makeNote("binary", "grocery \xff meeting \xc3"),
        makeNote("titled", "nothing here", 1, 0, 1000, "secret title"),
        makeNote("todo", todoJson, 2),
        makeNote("decomposed", QByteArray("une e\xcc\x81" "cole ici")),
        makeNote("precomposed", QByteArray("l'\xc3\xa9" "cole du coin")),
    };
    QCOMPARE(idsOf(MainView::filterNotes(notes, search)), expected);

    // The grid's own computation gives the same notes, in sorted order.
    AppState state;
    MainView view;
    view.setAppState(&state);
    state.setNotes(notes);
    view.setSearchText(search);
    Notes sorted = MainView::filterNotes(notes, search);
    MainView::sortNotes(sorted);
    QCOMPARE(idsOf(view.filteredNotes()), idsOf(sorted));
}

void MainViewTest::filteredNotesOrdersThenNarrows()
{
    AppState state;
    MainView view;
    view.setAppState(&state);
    state.setNotes({makeNote("n-new", "apple", 1, 0, 900), makeNote("bad", "apple \xfe", 1, 1, 800),
                    makeNote("n-old", "pear", 1, 0, 100), makeNote("fav", "apple pie", 1, 1, 50)});
    // Empty search: every loaded note, even one that is not UTF-8.
    QCOMPARE(idsOf(view.filteredNotes()), (QStringList{"bad", "fav", "n-new", "n-old"}));
    view.setSearchText("apple");
    QCOMPARE(idsOf(view.filteredNotes()), (QStringList{"fav", "n-new"}));
    // The shared list keeps the store's order.
    QCOMPARE(idsOf(state.notes()), (QStringList{"n-new", "bad", "n-old", "fav"}));
}

void MainViewTest::filteredNotesFollowsNotesAndSearchText()
{
    AppState state;
    MainView view;
    view.setAppState(&state);
    NoteListModel *model = view.filteredNotesModel();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    state.setNotes({makeNote("a", "alpha"), makeNote("b", "beta")});
    QCOMPARE(model->count(), 2);
    view.setSearchText("ALPHA");
    QCOMPARE(model->count(), 1);
    QCOMPARE(model->noteIdAt(0), "a");
    state.setNotes({makeNote("a", "alpha"), makeNote("c", "alphabet")});
    QCOMPARE(model->count(), 2);
    view.setSearchText("");
    QCOMPARE(model->count(), 2);
}

void MainViewTest::loadNotesPublishesOnTheNextTurn()
{
    TestHome home;
    storeNote("old", "first", 1, 0, 100);
    storeNote("new", "second", 1, 0, 200);
    storeNote("fav", "third", 1, 1, 50);
    AppState state;
    MainView view;
    view.setAppState(&state);
    QSignalSpy changes(&state, &AppState::notesChanged);

    view.loadNotes();
    QCOMPARE(changes.count(), 0);
    QVERIFY(state.notes().isEmpty());
    QTRY_COMPARE(changes.count(), 1);
    QCOMPARE(idsOf(state.notes()), (QStringList{"new", "old", "fav"}));
    QCOMPARE(idsOf(view.filteredNotes()), (QStringList{"fav", "new", "old"}));
}

void MainViewTest::loadNotesFailureKeepsTheList()
{
    TestHome home;
    AppState state;
    state.setNotes({makeNote("kept", "x")});
    MainView view;
    view.setAppState(&state);
    home.breakStore();
    CapturedOutput output;
    view.loadNotes();
    QTest::qWait(20);
    QVERIFY(output.text().startsWith("Error fetching notes: "));
    QCOMPARE(output.text().count('\n'), 1);
    QCOMPARE(idsOf(state.notes()), QStringList{"kept"});
}

void MainViewTest::loadNotesTakesAReadAheadOnce()
{
    TestHome home;
    storeNote("old", "first", 1, 0, 100);
    AppState state;
    QFuture<FetchedNotes> read =
        QtConcurrent::run([] { return FetchedNotes{DBManager::shared().fetchAllNotes(), {}}; });
    read.waitForFinished();
    state.setNotesReadAhead(read);
    // Written after the read: the first load shows what the read found,
    // the next one reads the store again.
    storeNote("new", "second", 1, 0, 200);
    MainView view;
    view.setAppState(&state);

    view.loadNotes();
    QTRY_COMPARE(idsOf(state.notes()), QStringList{"old"});
    view.loadNotes();
    QTRY_COMPARE(idsOf(state.notes()), (QStringList{"new", "old"}));
}

void MainViewTest::failedReadAheadPrintsAndKeepsTheList()
{
    TestHome home;
    storeNote("stored", "x");
    AppState state;
    state.setNotes({makeNote("kept", "x")});
    state.setNotesReadAhead(QtFuture::makeReadyFuture(FetchedNotes{{}, QStringLiteral("disk I/O error")}));
    MainView view;
    view.setAppState(&state);
    CapturedOutput output;
    QSignalSpy changes(&state, &AppState::notesChanged);
    view.loadNotes();
    QCOMPARE(output.text(), QStringLiteral("Error fetching notes: disk I/O error\n"));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(changes.count(), 0);
    QCOMPARE(idsOf(state.notes()), QStringList{"kept"});
    // Taken all the same: the next load reads the store.
    view.loadNotes();
    QTRY_COMPARE(idsOf(state.notes()), QStringList{"stored"});
}

void MainViewTest::addNewNoteOpensItsEditor()
{
    TestHome home;
    AppState state;
    MainView view;
    view.setAppState(&state);
    view.addNewNote();
    QCOMPARE(state.currentView().kind, AppState::AppView::Kind::newNote);
    const Note created = DBManager::shared().fetchNote(state.currentView().noteId);
    QCOMPARE(created.type, 1);
    QVERIFY(created.content.isEmpty());
}

void MainViewTest::addNewNoteFailureStaysOnTheGrid()
{
    TestHome home;
    AppState state;
    MainView view;
    view.setAppState(&state);
    home.breakStore();
    CapturedOutput output;
    view.addNewNote();
    QVERIFY(output.text().startsWith("Error creating new note: "));
    QVERIFY(state.currentView() == AppState::AppView::main());
}

void MainViewTest::deleteNoteAndReload()
{
    TestHome home;
    storeNote("a", "first", 1, 0, 100);
    storeNote("b", "second", 1, 0, 200);
    AppState state;
    MainView view;
    view.setAppState(&state);
    view.loadNotes();
    QTRY_COMPARE(state.notes().size(), 2);
    view.deleteNoteAndReload("a");
    QTRY_COMPARE(idsOf(state.notes()), QStringList{"b"});
    QVERIFY(DBManager::shared().fetchNote("a").isdeleted);
}

void MainViewTest::deletingAMissingNotePrintsAndKeepsTheList()
{
    TestHome home;
    AppState state;
    state.setNotes({makeNote("x", "kept")});
    MainView view;
    view.setAppState(&state);
    QSignalSpy changes(&state, &AppState::notesChanged);
    CapturedOutput output;
    view.deleteNoteAndReload("gone");
    QTest::qWait(20);
    QCOMPARE(output.text(), "Error deleting note: noteNotFound\n");
    QCOMPARE(changes.count(), 0);
}

void MainViewTest::modelKeepsRowsOfNotesThatStay()
{
    NoteListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setNotes({makeNote("a", "1"), makeNote("b", "2"), makeNote("c", "3"), makeNote("d", "4")});
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    // "c" becomes a favourite and moves to the top, "b" is deleted, "e" is new.
    model.setNotes({makeNote("c", "3", 1, 1), makeNote("a", "1"), makeNote("e", "5"), makeNote("d", "4")});
    QCOMPARE(resets.count(), 0);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(changed.count(), 1);
    QStringList ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids << model.noteIdAt(row);
    QCOMPARE(ids, (QStringList{"c", "a", "e", "d"}));
    QCOMPARE(model.data(model.index(0), NoteListModel::IsFavoriteRole).toLongLong(), 1);
}

// The rows as a view sees them: rebuilt from the model's notices alone.
class ReplayedRows : public QObject {
public:
    explicit ReplayedRows(NoteListModel *model) : m_model(model)
    {
        connect(model, &QAbstractItemModel::modelReset, this, [this] { takeAll(); });
        connect(model, &QAbstractItemModel::rowsRemoved, this,
                [this](const QModelIndex &, int first, int last) { ids.remove(first, last - first + 1); });
        connect(model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
            for (int row = first; row <= last; ++row)
                ids.insert(row, m_model->noteIdAt(row));
        });
        connect(model, &QAbstractItemModel::rowsMoved, this,
                [this](const QModelIndex &, int first, int, const QModelIndex &, int destination) {
                    ids.move(first, destination > first ? destination - 1 : destination);
                });
        connect(model, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex &first, const QModelIndex &last) { changes += last.row() - first.row() + 1; });
        takeAll();
    }
    void takeAll()
    {
        ids.clear();
        for (int row = 0; row < m_model->rowCount(); ++row)
            ids << m_model->noteIdAt(row);
        ++resets;
    }
    QStringList ids;
    int resets = -1;
    int changes = 0;

private:
    NoteListModel *m_model;
};

Notes notesNamed(const QString &ids, const QString &changed = QString())
{
    Notes notes;
    for (QChar id : ids)
        notes << makeNote(id, changed.contains(id) ? "changed" : "same");
    return notes;
}

void MainViewTest::modelSignalsReplayToTheNewRows_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("changed");
    QTest::addColumn<bool>("reset");

    QTest::newRow("unchanged") << "abcdefgh" << "abcdefgh" << "" << false;
    QTest::newRow("one changed note") << "abcdefgh" << "abcdefgh" << "e" << false;
    QTest::newRow("one note to the top") << "abcdefgh" << "gabcdefh" << "g" << false;
    QTest::newRow("one note to the bottom") << "abcdefgh" << "bcdefgha" << "" << false;
    QTest::newRow("two swapped") << "abcdefgh" << "abcfedgh" << "" << false;
    QTest::newRow("one deleted, one new") << "abcdefgh" << "abdefxgh" << "" << false;
    QTest::newRow("runs in and out") << "abcdefghij" << "xyabefghzj" << "" << false;
    QTest::newRow("most rows leave") << "abcdefgh" << "ah" << "" << true;
    QTest::newRow("most rows come in") << "ab" << "axyzwvbu" << "" << true;
    QTest::newRow("reversed") << "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFG"
                              << "GFEDCBA9876543210zyxwvutsrqponmlkjihgfedcba" << "" << true;
    QTest::newRow("from nothing") << "" << "abc" << "" << true;
    QTest::newRow("to nothing") << "abc" << "" << "" << true;
}

void MainViewTest::modelSignalsReplayToTheNewRows()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QString, changed);
    QFETCH(bool, reset);
    NoteListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setNotes(notesNamed(before));
    ReplayedRows replayed(&model);
    model.setNotes(notesNamed(after, changed));

    QStringList expected;
    for (QChar id : after)
        expected << QString(id);
    QCOMPARE(replayed.ids, expected);
    QCOMPARE(idsOf(model.notes()), expected);
    QCOMPARE(replayed.resets > 0, reset);
    if (!reset) {
        // Every note whose content differs is reported, and nothing else.
        for (QChar id : changed)
            QCOMPARE(model.notes().at(after.indexOf(id)).content, QByteArray("changed"));
        QCOMPARE(replayed.changes, int(changed.size()));
    }
}

void MainViewTest::searchCacheFollowsChangedContentOnly()
{
    AppState state;
    MainView view;
    view.setAppState(&state);
    state.setNotes({makeNote("a", "Apple"), makeNote("b", QByteArray("\xc3\x89T\xc3\x89")),
                    makeNote("c", "pear")});
    view.setSearchText(QString::fromUtf8("\xc3\xa9t\xc3\xa9"));
    QCOMPARE(idsOf(view.filteredNotes()), QStringList{"b"});
    // A reload with one note changed: the new content is searched, not the old.
    state.setNotes({makeNote("a", "Apple"), makeNote("b", "pear"), makeNote("c", QByteArray("l'\xc3\xa9t\xc3\xa9"))});
    QCOMPARE(idsOf(view.filteredNotes()), QStringList{"c"});
    view.setSearchText("PEAR");
    QCOMPARE(idsOf(view.filteredNotes()), QStringList{"b"});
    // A second grid screen of the same state searches the same texts.
    MainView second;
    second.setAppState(&state);
    second.setSearchText("apple");
    QCOMPARE(idsOf(second.filteredNotes()), QStringList{"a"});
    // Of the three notes, only the composed capitals needed a folded copy.
    NoteSearchCache *cache = NoteSearchCache::of(&state);
    QCOMPARE(cache->copiedTexts(), 0);
    state.setNotes({makeNote("a", QByteArray("\xc3\x89T\xc3\x89")), makeNote("b", "pear")});
    QCOMPARE(idsOf(second.filteredNotes()), QStringList{});
    QVERIFY(!cache->hasPending());
    QCOMPARE(cache->copiedTexts(), 1);
    // Without a search, the folding waits for the event loop to be idle.
    second.setSearchText("");
    view.setSearchText("");
    state.setNotes({makeNote("c", QByteArray("\xc3\x89" "COLE")), makeNote("b", "pear")});
    QVERIFY(cache->hasPending());
    QTRY_VERIFY(!cache->hasPending());
    QCOMPARE(cache->copiedTexts(), 1);
    view.setSearchText(QString::fromUtf8("\xc3\xa9" "cole"));
    QCOMPARE(idsOf(view.filteredNotes()), QStringList{"c"});
}

void MainViewTest::searchOfManyMixedScriptNotesMatchesThePlainFilter()
{
    // Letters whose lower case or composed form reaches beyond themselves or
    // into ASCII, marks to reorder, a byte-order mark, surrogate pairs.
    const QStringList texts{
        QString::fromUtf8("Kelvin \u212A and KK"),
        QString::fromUtf8("\u0130stanbul"),
        QString::fromUtf8("e\u0301te\u0301 ETE\u0301 \u00c9T\u00c9"),
        QString::fromUtf8("a\u0301\u0323 marks in reverse order"),
        QChar(0xFEFF) + QStringLiteral("a byte-order mark first"),
        QString::fromUtf8("\u1100\u1161 jamo and \uAC00"),
        QString::fromUtf8("\u03a3\u038a\u03a3\u03a5\u03a6\u039f\u03a3 GREEK"),
        QString::fromUtf8("face \U0001F600 X\u0301"),
        QString::fromUtf8("\u0301 a mark first"),
        QString::fromUtf8("STRASSE stra\u00dfe"),
        QString::fromUtf8("\u00c5ngstr\u00f6m \u212B"),
        QString::fromUtf8("Q\u0307\u0323 plain words"),
        QString::fromUtf8("all ascii, nothing else"),
    };
    // Enough notes that a search folds and searches them on several threads
    // at once; each round's texts differ from the round before, so all of
    // them are folded.
    const auto notesOfRound = [&texts](int round) {
        QList<Note> notes;
        for (int i = 0; i < 5000; ++i) {
            const QString text = texts.at(i % texts.size()) + QString::number(i) + QString(round, QChar(' '));
            notes << makeNote(QString::number(i), text.toUtf8(), 1, i % 7 == 0 ? 1 : 0, 5000 - i);
        }
        notes << makeNote("bad", "K \xff", 1, 0, 1);
        return notes;
    };
    AppState state;
    MainView view;
    view.setAppState(&state);
    const QStringList needles{
        "k", QString::fromUtf8("i\u0307"), QString::fromUtf8("\u00e9t\u00e9"), QString::fromUtf8("e\u0301"),
        QString::fromUtf8("a\u0323\u0301"), QString::fromUtf8("\uAC00"), QString::fromUtf8("\u03c3"),
        QString::fromUtf8("\u03c2"), QString::fromUtf8("x\u0301"), QString::fromUtf8("\u00df"),
        QString::fromUtf8("\u00e5"), QString::fromUtf8("\u0301"), QString::fromUtf8("q\u0323\u0307"), " ",
        QString::fromUtf8("\U0001F600"), QChar(0xFEFF) + QStringLiteral("a byte"), "else", "12"};
    int matched = 0;
    for (const QString &needle : needles) {
        view.setSearchText(QString());
        const QList<Note> notes = notesOfRound(int(needles.indexOf(needle)) + 1);
        state.setNotes(notes);
        QVERIFY(NoteSearchCache::of(&state)->hasPending());
        view.setSearchText(needle);
        QList<Note> sorted = notes;
        MainView::sortNotes(sorted);
        const QStringList expected = idsOf(MainView::filterNotes(sorted, needle));
        QCOMPARE(idsOf(view.filteredNotes()), expected);
        matched += expected.isEmpty() ? 0 : 1;
    }
    QVERIFY(matched >= needles.size() - 2);
}

void MainViewTest::searchFindsANeedleWhereverItSits()
{
    // Every length of text up to a few blocks of sixteen bytes, the needle
    // or a near miss (first and last byte right, one inside wrong) at every
    // place, in text kept as it is (ASCII, compared without case) and in
    // text that needs a folded copy (it starts with a capital accent).
    const QList<QByteArray> needles{"q", "qz", "qaz", "quartzquartzquar", "quartzquartzquart", "quartzquartzquartzquartzquartzqua"};
    QList<Note> notes;
    QList<bool> expected;
    QList<qsizetype> needleOf;
    for (qsizetype n = 0; n < needles.size(); ++n) {
        const QByteArray &needle = needles[n];
        QByteArray nearMiss = needle;
        if (needle.size() >= 3)
            nearMiss[needle.size() / 2] = '#';
        for (int length = 0; length <= 50; ++length) {
            for (int at = 0; at + needle.size() <= length; ++at) {
                for (const bool hit : {true, false}) {
                    if (!hit && needle.size() < 3)
                        continue;
                    QByteArray planted = QByteArray(length, 'x');
                    planted.replace(at, needle.size(), hit ? needle.toUpper() : nearMiss.toUpper());
                    for (const QByteArray &prefix : {QByteArray(), QByteArray("\xc3\x89")}) {
                        notes << makeNote(QString::number(notes.size()), prefix + planted);
                        expected << hit;
                        needleOf << n;
                    }
                }
            }
        }
    }
    AppState state;
    state.setNotes(notes);
    NoteSearchCache *cache = NoteSearchCache::of(&state);
    cache->update(state.notes());
    cache->foldPending();
    QVERIFY(cache->copiedTexts() > 0);
    for (qsizetype i = 0; i < notes.size(); ++i) {
        if (cache->matches(i, needles[needleOf[i]]) != expected[i])
            QFAIL(qPrintable(QStringLiteral("\"%1\" in \"%2\"").arg(needles[needleOf[i]], notes[i].content)));
        // Every other needle is longer or differs at its end or start.
        QVERIFY(!cache->matches(i, "quartz#"));
    }
}

void MainViewTest::cardStatesLiveAsLongAsTheirNotesAreShown()
{
    AppState state;
    MainView view;
    view.setAppState(&state);
    state.setNotes({makeNote("a", "apple", 1, 0, 300), makeNote("b", "banana", 1, 0, 200)});
    NoteCard *card = view.cardStateForRow(1);
    QCOMPARE(card->note().id, "b");
    QCOMPARE(view.cardStateForRow(1), card);
    card->flip();

    // A reload keeps the state and hands it the note's new version, even
    // when the note has moved to another row.
    state.setNotes({makeNote("b", "banana", 1, 1, 900), makeNote("a", "apple", 1, 0, 300)});
    QCOMPARE(view.existingCardState("b"), card);
    QCOMPARE(view.cardStateForRow(0), card);
    QVERIFY(card->isFlipped());
    QVERIFY(card->localIsFavorite());

    // A search that hides the note discards its card's state.
    view.setSearchText("apple");
    QCOMPARE(view.existingCardState("b"), nullptr);
    view.setSearchText("");
    NoteCard *fresh = view.cardStateForRow(0);
    QCOMPARE(fresh->note().id, "b");
    QVERIFY(!fresh->isFlipped());
    QCOMPARE(view.cardStateForRow(2), nullptr);
}

void MainViewTest::adaptiveColumns_data()
{
    QTest::addColumn<qreal>("width");
    QTest::addColumn<int>("columns");
    QTest::newRow("narrower than one") << 100.0 << 1;
    QTest::newRow("exactly one") << 150.0 << 1;
    QTest::newRow("two need the spacing too") << 307.0 << 1;
    QTest::newRow("two") << 308.0 << 2;
    QTest::newRow("wide window") << 868.0 << 5;
}

void MainViewTest::adaptiveColumns()
{
    QFETCH(qreal, width);
    QFETCH(int, columns);
    QCOMPARE(MainView::adaptiveColumnCount(width, 150, 8), columns);
}

QTEST_GUILESS_MAIN(MainViewTest)
#include "tst_mainview.moc"
