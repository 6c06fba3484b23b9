#include "AppState.h"
#include "MainView.h"
#include "QuickTestSupport.h"
#include "SyncManager.h"
#include "ViewsTestSupport.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>
#include <algorithm>
#include <cmath>

Q_IMPORT_QML_PLUGIN(TovikNote_ViewsPlugin)

namespace {

// The contrast ratio of two opaque colours as accessibility guidelines define
// it: relative luminances, lighter over darker, each plus 0.05.
double contrastRatio(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &colour) {
        const auto channel = [](double value) {
            return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

// The note grid's QML, shown offscreen over a real store with three notes.
class MainViewGuiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void showsTheStoredNotesInOrder();
    void favouriteStarStandsOutFromBothCardColours();
    void typingNarrowsTheGrid();
    void clickingACardOpensIt();
    void longPressTurnsACardOver();
    void shortOrWanderingPressesDoNotTurnACard();
    void favouriteFromTheBackReordersOnTurningBack();
    void confirmedDeleteRemovesTheCard();
    void aCardKeepsItsStateWhileItScrolls();
    void everyCardShowsItsOwnNoteAfterScrolling();
    void plusCreatesANoteAndOpensItsEditor();
    void headerKeepsItsButtonsBesideALongMessage_data();
    void headerKeepsItsButtonsBesideALongMessage();
    void tappingTheGridEndsSearchEditing();
    void tabWalksTheHeaderAndTheGridWithARing();
    void keysActOnTheFocusedCard_data();
    void keysActOnTheFocusedCard();
    void favouriteAndDeleteByKeyboard();
    void searchAndNewNoteKeys();

private:
    QList<QQuickItem *> cards() const;
    QStringList shownIds() const;
    QObject *cardState(QQuickItem *card) const { return card->property("cardState").value<QObject *>(); }
    QQuickItem *item(const char *name) const { return itemsNamed(m_view->contentItem(), name).value(0); }
    void longPress(QQuickItem *card);
    void processPostedEvents();
    void waitForFrame();
    QQuickItem *cardOf(const QString &noteId) const;
    void verifyEachCardShowsItsOwnNote(const QStringList &turned);
    // The name of what has the keyboard: its object name, or for a card the
    // card's note.
    QString focusedName() const;
    bool focusRingShown() const;
    void key(int key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(m_view.get(), Qt::Key(key), modifiers); }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<SyncManager> m_sync;
    std::unique_ptr<QQuickView> m_view;
};

void MainViewGuiTest::init()
{
    m_home = std::make_unique<TestHome>();
    storeNote("older", "grocery list\nmilk", 1, 0, 100);
    storeNote("newer", "beta release notes", 1, 0, 300);
    storeNote("favourite",
              R"([{"id":"6F1C2A4E-1111-4C3B-9D2E-123456789ABC","text":"call beta team","isCompleted":false}])", 2, 1,
              50);
    m_state = std::make_unique<AppState>();
    m_sync = std::make_unique<SyncManager>();
    m_view = std::make_unique<QQuickView>();
    const QString failure = showMainScreen(*m_view, m_state.get(), m_sync.get());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QTRY_COMPARE(cards().size(), 3);
}

void MainViewGuiTest::cleanup()
{
    m_view.reset();
    m_sync.reset();
    m_state.reset();
    m_home.reset();
}

QList<QQuickItem *> MainViewGuiTest::cards() const
{
    QList<QQuickItem *> shown;
    for (QQuickItem *card : itemsNamed(m_view->contentItem(), "noteCard")) {
        if (card->isVisible() && card->parentItem() && card->parentItem()->isVisible())
            shown << card;
    }
    std::sort(shown.begin(), shown.end(), [](QQuickItem *a, QQuickItem *b) {
        const QPointF pa = a->mapToScene({0, 0}), pb = b->mapToScene({0, 0});
        return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
    });
    return shown;
}

QQuickItem *MainViewGuiTest::cardOf(const QString &noteId) const
{
    for (QQuickItem *card : cards()) {
        if (card->property("note").value<Note>().id == noteId)
            return card;
    }
    return nullptr;
}

QStringList MainViewGuiTest::shownIds() const
{
    QStringList ids;
    for (QQuickItem *card : cards())
        ids << card->property("note").value<Note>().id;
    return ids;
}

void MainViewGuiTest::longPress(QQuickItem *card)
{
    // Held until the card has turned, however long a busy machine takes.
    QObject *state = cardState(card);
    const bool wasFlipped = state->property("isFlipped").toBool();
    const QPoint at = centreOf(card);
    QTest::mousePress(m_view.get(), Qt::LeftButton, {}, at);
    QTRY_VERIFY(state->property("isFlipped").toBool() != wasFlipped);
    QTest::mouseRelease(m_view.get(), Qt::LeftButton, {}, at);
}

void MainViewGuiTest::waitForFrame()
{
    QSignalSpy frames(m_view.get(), &QQuickWindow::frameSwapped);
    m_view->update();
    QVERIFY(frames.wait(10000));
}

void MainViewGuiTest::processPostedEvents()
{
    // Whatever was posted before this marker has run once it runs.
    bool reached = false;
    QMetaObject::invokeMethod(this, [&reached] { reached = true; }, Qt::QueuedConnection);
    QTRY_VERIFY(reached);
}

void MainViewGuiTest::showsTheStoredNotesInOrder()
{
    QCOMPARE(shownIds(), (QStringList{"favourite", "newer", "older"}));
    QQuickItem *first = cards().first();
    QVERIFY(first->findChild<QQuickItem *>("favoriteMark")->isVisible());
    QVERIFY(!cards().last()->findChild<QQuickItem *>("favoriteMark")->isVisible());
    QCOMPARE(first->findChild<QQuickItem *>("previewText")->property("text").toString(), "call beta team");
    QCOMPARE(cards().last()->findChild<QQuickItem *>("previewText")->property("text").toString(),
             "grocery list, milk");
    QCOMPARE(first->height(), 150.0);
}

void MainViewGuiTest::favouriteStarStandsOutFromBothCardColours()
{
    // A favourite plain note beside the favourite to-do list of the fixture.
    storeNote("plain favourite", "marked", 1, 1, 60);
    auto *viewState = m_view->rootObject()->property("viewState").value<MainView *>();
    viewState->loadNotes();
    QTRY_COMPARE(cards().size(), 4);
    QStringList types;
    for (const QString &noteId : {QStringLiteral("favourite"), QStringLiteral("plain favourite")}) {
        QQuickItem *card = cardOf(noteId);
        QQuickItem *star = card->findChild<QQuickItem *>("favoriteMark");
        QVERIFY(star->isVisible());
        QCOMPARE(star->opacity(), 1.0);
        const QColor drawn = star->property("color").value<QColor>();
        const QColor fill = card->findChild<QQuickItem *>("cardFront")->property("color").value<QColor>();
        const double ratio = contrastRatio(drawn, fill);
        QVERIFY2(ratio >= 3.0, qPrintable(QString("%1 on %2: %3:1").arg(drawn.name(), fill.name()).arg(ratio)));
        types << fill.name();
    }
    // One blue card and one yellow card were checked.
    QCOMPARE(types.size(), 2);
    QVERIFY(types.at(0) != types.at(1));
}

void MainViewGuiTest::typingNarrowsTheGrid()
{
    QQuickItem *field = item("searchField");
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(field));
    QTRY_VERIFY(field->hasActiveFocus());
    typeText(m_view.get(), "BETA");
    QTRY_COMPARE(shownIds(), (QStringList{"favourite", "newer"}));
    typeText(m_view.get(), " r");
    QTRY_COMPARE(shownIds(), QStringList{"newer"});
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(m_view.get(), Qt::Key_Backspace);
    QTRY_COMPARE(shownIds(), (QStringList{"favourite", "newer", "older"}));
}

void MainViewGuiTest::clickingACardOpensIt()
{
    QQuickItem *card = cards().at(1);
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(card));
    QTRY_COMPARE(m_state->currentView().kind, AppState::AppView::Kind::noteDetail);
    QCOMPARE(m_state->currentView().noteId, "newer");
}

void MainViewGuiTest::longPressTurnsACardOver()
{
    QQuickItem *card = cards().at(2);
    QObject *state = cardState(card);
    QSignalSpy flippedBack(state, SIGNAL(flipBack()));
    longPress(card);
    QTRY_VERIFY(state->property("isFlipped").toBool());
    // The back face is built once the card turns, a moment after the press.
    QQuickItem *back = nullptr;
    QTRY_VERIFY((back = card->findChild<QQuickItem *>("cardBack")));
    QTRY_COMPARE(back->opacity(), 1.0);
    QTRY_VERIFY(!card->findChild<QQuickItem *>("cardFront")->isVisible());
    // A click on the back opens nothing.
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(card) + QPoint(0, 50));
    processPostedEvents();
    QVERIFY(m_state->currentView() == AppState::AppView::main());
    // The turn-back button brings the front again, once.
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(back->findChild<QQuickItem *>("turnBackButton")));
    QTRY_VERIFY(!state->property("isFlipped").toBool());
    QCOMPARE(flippedBack.count(), 1);
}

void MainViewGuiTest::shortOrWanderingPressesDoNotTurnACard()
{
    QQuickItem *card = cards().at(2);
    QObject *state = cardState(card);
    const QPoint at = centreOf(card);

    // Moved further than 10 points while held: neither a press nor a click.
    QTest::mousePress(m_view.get(), Qt::LeftButton, {}, at);
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(m_view.get(), at + QPoint(4 * step, 0), 20);
    QTest::qWait(700);
    QTest::mouseRelease(m_view.get(), Qt::LeftButton, {}, at + QPoint(16, 0));
    QVERIFY(!state->property("isFlipped").toBool());
    QVERIFY(m_state->currentView() == AppState::AppView::main());

    // Released at once, well before the half second: a click, which opens the note.
    QTest::mousePress(m_view.get(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(m_view.get(), Qt::LeftButton, {}, at);
    QVERIFY(!state->property("isFlipped").toBool());
    QTRY_COMPARE(m_state->currentView().noteId, "older");
}

void MainViewGuiTest::favouriteFromTheBackReordersOnTurningBack()
{
    QQuickItem *card = cards().at(2);
    QCOMPARE(card->property("note").value<Note>().id, "older");
    longPress(card);
    // The back face is built once the card turns, a moment after the press.
    QQuickItem *back = nullptr;
    QTRY_VERIFY((back = card->findChild<QQuickItem *>("cardBack")));
    QTRY_COMPARE(back->opacity(), 1.0);
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(back->findChild<QQuickItem *>("favoriteButton")));
    QVERIFY(cardState(card)->property("localIsFavorite").toBool());
    QCOMPARE(DBManager::shared().fetchNote("older").isfavorite, 1);
    // The grid keeps its order until the card is turned back.
    processPostedEvents();
    QCOMPARE(shownIds(), (QStringList{"favourite", "newer", "older"}));
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(back->findChild<QQuickItem *>("turnBackButton")));
    // Stamped just now, the note is the newest favourite.
    QTRY_COMPARE(shownIds(), (QStringList{"older", "favourite", "newer"}));
    QTRY_VERIFY(cards().first()->findChild<QQuickItem *>("favoriteMark")->isVisible());
}

void MainViewGuiTest::confirmedDeleteRemovesTheCard()
{
    QQuickItem *card = cards().at(1);
    QCOMPARE(card->property("note").value<Note>().id, "newer");
    longPress(card);
    // The back face is built once the card turns, a moment after the press.
    QQuickItem *back = nullptr;
    QTRY_VERIFY((back = card->findChild<QQuickItem *>("cardBack")));
    QTRY_COMPARE(back->opacity(), 1.0);
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(back->findChild<QQuickItem *>("deleteButton")));
    QObject *dialog = card->findChild<QObject *>("deleteConfirmation");
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->property("opened").toBool());
    QCOMPARE(dialog->property("title").toString(), "Delete Note");
    const QList<QQuickItem *> confirmButtons = itemsNamed(m_view->contentItem(), "confirmDeleteButton");
    QCOMPARE(confirmButtons.size(), 1);
    QQuickItem *confirm = confirmButtons.first();
    QCOMPARE(confirm->property("text").toString(), "Delete");
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(confirm));
    QTRY_COMPARE(shownIds(), (QStringList{"favourite", "older"}));
    QVERIFY(DBManager::shared().fetchNote("newer").isdeleted);
}

void MainViewGuiTest::aCardKeepsItsStateWhileItScrolls()
{
    for (int i = 0; i < 297; ++i)
        storeNote(QStringLiteral("n%1").arg(i, 3, 10, QLatin1Char('0')), "note " + QByteArray::number(i), 1, 0,
                  1000 + i);
    auto *viewState = m_view->rootObject()->property("viewState").value<MainView *>();
    viewState->loadNotes();
    QTRY_COMPARE(viewState->filteredNotesModel()->count(), 300);
    // The favourite, then the newest: the third card is far from the top of the order.
    const QString noteId = "n294";
    QQuickItem *card = cardOf(noteId);
    QVERIFY(card);
    longPress(card);
    // The back face is built once the card turns, a moment after the press.
    QQuickItem *back = nullptr;
    QTRY_VERIFY((back = card->findChild<QQuickItem *>("cardBack")));
    QTRY_COMPARE(back->opacity(), 1.0);
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(back->findChild<QQuickItem *>("favoriteButton")));
    QVERIFY(cardState(card)->property("localIsFavorite").toBool());

    // Far enough down that the card's cell is gone, then back to the top.
    QQuickItem *grid = item("noteGrid");
    QMetaObject::invokeMethod(grid, "positionViewAtEnd");
    QTRY_VERIFY(!cardOf(noteId));
    QMetaObject::invokeMethod(grid, "positionViewAtBeginning");
    QTRY_VERIFY(cardOf(noteId));
    // The new cell's buttons are laid out when the window next draws.
    waitForFrame();
    card = cardOf(noteId);
    QVERIFY(cardState(card)->property("isFlipped").toBool());
    QVERIFY(cardState(card)->property("localIsFavorite").toBool());
    QTRY_VERIFY((back = card->findChild<QQuickItem *>("cardBack")));
    QTRY_COMPARE(back->opacity(), 1.0);
    QVERIFY(!card->findChild<QQuickItem *>("cardFront")->isVisible());
    QQuickItem *favoriteButton = back->findChild<QQuickItem *>("favoriteButton");
    QCOMPARE(favoriteButton->property("symbol").toString(), "star.fill");
    QCOMPARE(shownIds().mid(0, 3), (QStringList{"favourite", "n296", "n295"}));

    // Turning it back still reloads the grid: the new favourite goes first.
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(back->findChild<QQuickItem *>("turnBackButton")));
    QTRY_COMPARE(shownIds().mid(0, 3), (QStringList{noteId, "favourite", "n296"}));
    QTRY_VERIFY(cardOf(noteId)->findChild<QQuickItem *>("favoriteMark")->isVisible());
}

void MainViewGuiTest::verifyEachCardShowsItsOwnNote(const QStringList &turned)
{
    auto *viewState = m_view->rootObject()->property("viewState").value<MainView *>();
    const QHash<QString, QString> fixturePreviews{
        {"favourite", "call beta team"}, {"newer", "beta release notes"}, {"older", "grocery list, milk"}};
    const QList<QQuickItem *> shown = cards();
    QVERIFY(shown.size() >= 10);
    for (QQuickItem *card : shown) {
        const Note note = viewState->filteredNotesModel()->noteAt(card->property("index").toInt());
        QObject *state = cardState(card);
        QVERIFY(state);
        QCOMPARE(state->property("note").value<Note>().id, note.id);
        const QString preview = fixturePreviews.value(note.id, "note " + QString::number(note.id.mid(1).toInt()));
        QCOMPARE(card->findChild<QQuickItem *>("previewText")->property("text").toString(), preview);
        QCOMPARE(state->property("localIsFavorite").toBool(), note.isfavorite == 1);
        // Turned over at once, with no turn played from another note's face.
        const bool flipped = turned.contains(note.id);
        if (!flipped)
            QCOMPARE(card->findChild<QQuickItem *>("favoriteMark")->isVisible(), note.isfavorite == 1);
        QCOMPARE(state->property("isFlipped").toBool(), flipped);
        QCOMPARE(card->property("turnAngle").toReal(), flipped ? 180.0 : 0.0);
        QCOMPARE(card->findChild<QQuickItem *>("cardFront")->isVisible(), !flipped);
        QQuickItem *back = card->findChild<QQuickItem *>("cardBack");
        QCOMPARE(back != nullptr, flipped);
        if (back) {
            QCOMPARE(back->opacity(), 1.0);
            QCOMPARE(back->findChild<QQuickItem *>("favoriteButton")->property("symbol").toString(),
                     note.isfavorite == 1 ? "star.fill" : "star");
        }
        QVERIFY(!card->findChild<QObject *>("deleteConfirmation"));
    }
}

void MainViewGuiTest::everyCardShowsItsOwnNoteAfterScrolling()
{
    // Every fiftieth note a favourite, so favourites and plain notes both
    // lead the grid and come again further down.
    for (int i = 0; i < 297; ++i)
        storeNote(QStringLiteral("n%1").arg(i, 3, 10, QLatin1Char('0')), "note " + QByteArray::number(i), 1,
                  i % 50 == 0 ? 1 : 0, 1000 + i);
    auto *viewState = m_view->rootObject()->property("viewState").value<MainView *>();
    viewState->loadNotes();
    QTRY_COMPARE(viewState->filteredNotesModel()->count(), 300);
    // A favourite and a plain note turned over, beside cards that are not.
    QStringList turned;
    for (int at : {1, 8}) {
        QQuickItem *card = cards().at(at);
        turned << card->property("note").value<Note>().id;
        longPress(card);
        QTRY_COMPARE(card->property("turnAngle").toReal(), 180.0);
        QTRY_VERIFY(!card->findChild<QQuickItem *>("cardFront")->isVisible());
    }
    QCOMPARE(DBManager::shared().fetchNote(turned.at(0)).isfavorite, 1);
    QCOMPARE(DBManager::shared().fetchNote(turned.at(1)).isfavorite, 0);
    verifyEachCardShowsItsOwnNote(turned);
    if (QTest::currentTestFailed())
        return;

    // To the far end, where other notes take the cells, and back to the top.
    QQuickItem *grid = item("noteGrid");
    QMetaObject::invokeMethod(grid, "positionViewAtEnd");
    QTRY_VERIFY(!cardOf(turned.at(0)) && !cardOf(turned.at(1)));
    QTRY_VERIFY(cardOf("n001"));
    verifyEachCardShowsItsOwnNote(turned);
    if (QTest::currentTestFailed())
        return;
    QMetaObject::invokeMethod(grid, "positionViewAtBeginning");
    QTRY_VERIFY(cardOf(turned.at(0)) && cardOf(turned.at(1)));
    verifyEachCardShowsItsOwnNote(turned);
}

void MainViewGuiTest::headerKeepsItsButtonsBesideALongMessage_data()
{
    QTest::addColumn<int>("width");
    QTest::newRow("the narrowest window") << 900;
    QTest::newRow("a little wider") << 1001;
    QTest::newRow("wide") << 1600;
}

void MainViewGuiTest::headerKeepsItsButtonsBesideALongMessage()
{
    QFETCH(int, width);
    m_view->resize(width, 720);
    QTRY_COMPARE(m_view->rootObject()->width(), qreal(width));
    // The text a sync would show: two hundred characters of a service's answer.
    QQuickItem *message = item("syncMessage");
    const QString longMessage = QString("Synced with the service: ").leftJustified(200, 'x');
    message->setProperty("text", longMessage);

    const auto sceneRect = [](QQuickItem *target) {
        return target->mapRectToScene(QRectF(0, 0, target->width(), target->height()));
    };
    QTRY_VERIFY(message->property("truncated").toBool());
    const QRectF plus = sceneRect(item("newNoteButton"));
    const QRectF sync = sceneRect(item("syncButton"));
    const QRectF search = sceneRect(item("searchBar"));
    const QRectF shown = sceneRect(message);
    QCOMPARE(plus.size(), QSizeF(32, 32));
    QCOMPARE(sync.size(), QSizeF(32, 32));
    QCOMPARE(search.size(), QSizeF(320, 32));
    QCOMPARE(plus.right(), qreal(width - 16));
    QVERIFY(sync.right() <= plus.left());
    QCOMPARE(search.left(), 16.0 + 48 + 10);
    // The message sits between the search field and the sync button, cut short.
    QVERIFY(shown.left() >= search.right());
    QVERIFY(shown.right() <= sync.left());
    QVERIFY(message->property("contentWidth").toReal() <= shown.width());
}

void MainViewGuiTest::plusCreatesANoteAndOpensItsEditor()
{
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(item("newNoteButton")));
    QTRY_COMPARE(m_state->currentView().kind, AppState::AppView::Kind::newNote);
    const QString id = m_state->currentView().noteId;
    QCOMPARE(id.size(), 40);
    QCOMPARE(DBManager::shared().fetchNote(id).type, 1);
}

void MainViewGuiTest::tappingTheGridEndsSearchEditing()
{
    QQuickItem *field = item("searchField");
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(field));
    QTRY_VERIFY(field->hasActiveFocus());
    auto *viewState = m_view->rootObject()->property("viewState").value<MainView *>();
    QVERIFY(viewState->isSearchBarFocused());
    // Empty space below the cards.
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, QPoint(450, 650));
    QTRY_VERIFY(!field->hasActiveFocus());
    QVERIFY(!viewState->isSearchBarFocused());
    QVERIFY(m_state->currentView() == AppState::AppView::main());
}

QString MainViewGuiTest::focusedName() const
{
    QQuickItem *focused = m_view->activeFocusItem();
    if (!focused)
        return QString();
    if (focused->objectName() == QLatin1String("noteCard"))
        return QStringLiteral("card ") + focused->property("note").value<Note>().id;
    return focused->objectName();
}

bool MainViewGuiTest::focusRingShown() const
{
    // The ring belongs to the focused control or to the bar that holds it.
    QQuickItem *focused = m_view->activeFocusItem();
    for (QQuickItem *owner : {focused, focused ? focused->parentItem() : nullptr}) {
        if (!owner)
            continue;
        for (QQuickItem *ring : itemsNamed(owner, "focusRing")) {
            if (ring->parentItem() == owner && ring->isVisible())
                return true;
        }
    }
    return false;
}

void MainViewGuiTest::tabWalksTheHeaderAndTheGridWithARing()
{
    m_view->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    // Nothing has the keyboard at first, so no ring shows for a pointer user.
    QVERIFY(!focusRingShown());
    const QStringList expected{"searchField", "syncButton", "newNoteButton", "card favourite", "searchField"};
    QStringList reached;
    for (int i = 0; i < expected.size(); ++i) {
        key(Qt::Key_Tab);
        reached << focusedName();
        QVERIFY2(focusRingShown(), qPrintable(reached.last()));
    }
    QCOMPARE(reached, expected);
    // Back the same way, into the grid from its other side.
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(focusedName(), "card favourite");
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(focusedName(), "newNoteButton");
}

void MainViewGuiTest::keysActOnTheFocusedCard_data()
{
    // A key pressed on the second card, and what it does.
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("effect");
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << "opens";
    QTest::newRow("Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "opens";
    QTest::newRow("Delete") << int(Qt::Key_Delete) << int(Qt::NoModifier) << "asks";
    QTest::newRow("Menu") << int(Qt::Key_Menu) << int(Qt::NoModifier) << "turns";
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier) << "turns";
    QTest::newRow("F10 alone") << int(Qt::Key_F10) << int(Qt::NoModifier) << "nothing";
    QTest::newRow("Right") << int(Qt::Key_Right) << int(Qt::NoModifier) << "moves on";
    QTest::newRow("Left") << int(Qt::Key_Left) << int(Qt::NoModifier) << "moves back";
}

void MainViewGuiTest::keysActOnTheFocusedCard()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, effect);
    m_view->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    QQuickItem *grid = item("noteGrid");
    grid->forceActiveFocus(Qt::TabFocusReason);
    this->key(Qt::Key_Right);
    QCOMPARE(focusedName(), "card newer");
    QObject *state = cardState(cardOf("newer"));

    this->key(key, Qt::KeyboardModifiers(modifiers));

    const bool opened = m_state->currentView() == AppState::AppView::noteDetail("newer");
    QCOMPARE(opened, effect == "opens");
    QCOMPARE(state->property("showDeleteConfirmation").toBool(), effect == "asks");
    QCOMPARE(state->property("isFlipped").toBool(), effect == "turns");
    if (effect == "asks") {
        // The question takes the keyboard, on the safe answer; Escape cancels.
        QTRY_COMPARE(focusedName(), "cancelDeleteButton");
        QVERIFY(focusRingShown());
        this->key(Qt::Key_Escape);
        QTRY_VERIFY(!state->property("showDeleteConfirmation").toBool());
        QVERIFY(!DBManager::shared().fetchNote("newer").isdeleted);
    } else if (effect == "turns") {
        // The keyboard follows to the back face, and back to the card.
        QTRY_COMPARE(focusedName(), "turnBackButton");
        QVERIFY(focusRingShown());
        this->key(Qt::Key_Return);
        QTRY_VERIFY(!state->property("isFlipped").toBool());
        QCOMPARE(focusedName(), "card newer");
    } else if (effect == "moves on" || effect == "moves back") {
        QCOMPARE(focusedName(), effect == "moves on" ? "card older" : "card favourite");
    } else if (effect == "nothing") {
        QCOMPARE(focusedName(), "card newer");
    }
}

void MainViewGuiTest::favouriteAndDeleteByKeyboard()
{
    m_view->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    item("noteGrid")->forceActiveFocus(Qt::TabFocusReason);
    key(Qt::Key_Right);
    key(Qt::Key_Right);
    QCOMPARE(focusedName(), "card older");
    key(Qt::Key_Menu);
    QTRY_COMPARE(focusedName(), "turnBackButton");
    key(Qt::Key_Tab);
    QCOMPARE(focusedName(), "favoriteButton");
    QCOMPARE(m_view->activeFocusItem()->property("text").toString(), "Add to favourites");
    key(Qt::Key_Return);
    QCOMPARE(DBManager::shared().fetchNote("older").isfavorite, 1);
    QCOMPARE(m_view->activeFocusItem()->property("text").toString(), "Remove from favourites");
    key(Qt::Key_Space);
    QCOMPARE(DBManager::shared().fetchNote("older").isfavorite, 0);
    key(Qt::Key_Tab);
    QCOMPARE(focusedName(), "deleteButton");
    key(Qt::Key_Return);
    QTRY_COMPARE(focusedName(), "cancelDeleteButton");
    key(Qt::Key_Tab);
    QCOMPARE(focusedName(), "confirmDeleteButton");
    key(Qt::Key_Return);
    QTRY_COMPARE(shownIds(), (QStringList{"favourite", "newer"}));
    QVERIFY(DBManager::shared().fetchNote("older").isdeleted);
}

void MainViewGuiTest::searchAndNewNoteKeys()
{
    m_view->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    item("noteGrid")->forceActiveFocus(Qt::TabFocusReason);
    key(Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(focusedName(), "searchField");
    typeText(m_view.get(), "beta");
    QTRY_COMPARE(shownIds(), (QStringList{"favourite", "newer"}));
    // Escape empties the search first, and then hands the keyboard on.
    key(Qt::Key_Escape);
    QCOMPARE(item("searchField")->property("text").toString(), "");
    QTRY_COMPARE(shownIds().size(), 3);
    QCOMPARE(focusedName(), "searchField");
    key(Qt::Key_Escape);
    QVERIFY(focusedName() != "searchField");

    key(Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(m_state->currentView().kind, AppState::AppView::Kind::newNote);
    QVERIFY(DBManager::shared().fetchNote(m_state->currentView().noteId).content.isEmpty());
}

QTEST_MAIN(MainViewGuiTest)
#include "tst_mainview_gui.moc"
