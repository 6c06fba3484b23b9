// The main screen's sync button, sync message and e-mail sheet, shown
// offscreen over a real store in a temporary home, syncing with a real
// tovik-sync-server process on loopback. The keyring item lives in the file
// under the temporary home.

#include "AppState.h"
#include "DBManager.h"
#include "EmailScramble.h"
#include "Keychain.h"
#include "KeyringItem.h"
#include "MainView.h"
#include "QuickTestSupport.h"
#include "SyncManager.h"
#include "support/CannedServer.h"
#include "support/ServerProcess.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QMetaProperty>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>
#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <algorithm>
#include <functional>
#include <memory>

Q_IMPORT_QML_PLUGIN(TovikNote_ViewsPlugin)

namespace {

const QString typedAddress = QStringLiteral("Ann.Lee@Example.COM");
const QString sentAddress = QStringLiteral("ann.lee@example.com");

QString createNote(const QByteArray &content)
{
    const QString id = DBManager::shared().createNote();
    DBManager::shared().saveNote(id, content, 1, false, QString(), 0, QString());
    return id;
}

// Every value a property takes, with the moment it took it. A message that
// shows for half a second can be missed by a look at the wrong moment on a
// busy machine; its record cannot.
class PropertyLog : public QObject {
    Q_OBJECT

public:
    PropertyLog(QObject *object, const char *name, const QElapsedTimer &clock)
        : m_object(object), m_clock(clock)
    {
        const QMetaObject *meta = object->metaObject();
        m_property = meta->property(meta->indexOfProperty(name));
        QMetaObject::connect(object, m_property.notifySignalIndex(), this,
                             staticMetaObject.indexOfSlot("record()"));
    }

    bool saw(const QVariant &value) const { return indexOf(value) >= 0; }
    bool sawAny(const std::function<bool(const QVariant &)> &test) const
    {
        return std::any_of(m_values.cbegin(), m_values.cend(), test);
    }
    // Whether `value` was taken and then left for `next`.
    bool sawThen(const QVariant &value, const QVariant &next) const
    {
        const qsizetype at = indexOf(value);
        return at >= 0 && at + 1 < m_values.size() && m_values.at(at + 1) == next;
    }
    // When the property first took `value`, on the shared clock; -1 if never.
    qint64 timeOf(const QVariant &value) const
    {
        const qsizetype at = indexOf(value);
        return at >= 0 ? m_times.at(at) : -1;
    }
    // How long `value` stood before the next change; -1 if it has not left.
    qint64 shownFor(const QVariant &value) const
    {
        const qsizetype at = indexOf(value);
        return at >= 0 && at + 1 < m_times.size() ? m_times.at(at + 1) - m_times.at(at) : -1;
    }

public Q_SLOTS:
    void record()
    {
        m_values << m_property.read(m_object);
        m_times << m_clock.elapsed();
    }

private:
    qsizetype indexOf(const QVariant &value) const { return m_values.indexOf(value); }

    QObject *m_object;
    QMetaProperty m_property;
    const QElapsedTimer &m_clock;
    QVariantList m_values;
    QList<qint64> m_times;
};

} // namespace

class SyncButtonGuiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void firstPressAsksForTheAddressThenTheNextPressSyncs();
    void noteFromAnotherMachineAppearsAfterTheSync();
    void stoppedServiceShowsSyncFailedAndKeepsTheGrid();
    void unusableKeyringValues_data();
    void unusableKeyringValues();
    void dismissedSheetReopensAfresh();
    void buttonIsDisabledWhileTheManagerSyncs();
    void screenGoneWhileASyncRuns();
    void servicesLongerWordsStayReadable();

private:
    QQuickItem *item(const char *name) const { return itemsNamed(m_view->contentItem(), name).value(0); }
    MainView *mainState() const { return m_view->rootObject()->property("viewState").value<MainView *>(); }
    QString statusLine() const { return item("emailStatus")->property("text").toString(); }
    QString syncMessage() const { return item("syncMessage")->property("text").toString(); }
    bool sheetShown() const;
    qsizetype cardCount() const;
    QStringList cardContents() const;
    void click(const char *name);
    void typeAddress(const QString &text);
    // Addresses the service has registered, sorted.
    QStringList registeredAddresses() const;
    void configure(const QString &address);

    std::unique_ptr<ServerProcess> m_server;
    std::unique_ptr<TemporaryHome> m_home;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<SyncManager> m_sync;
    std::unique_ptr<QQuickView> m_view;
};

void SyncButtonGuiTest::init()
{
    m_server = std::make_unique<ServerProcess>(QStringLiteral(TOVIK_SYNC_SERVER_PATH));
    QVERIFY2(m_server->port() > 0, "the sync service did not report its port");
    m_home = std::make_unique<TemporaryHome>();
    DBManager::shared().setupDatabase();
    m_state = std::make_unique<AppState>();
    m_sync = std::make_unique<SyncManager>(m_server->base(), m_server->echo());
    m_view = std::make_unique<QQuickView>();
    const QString failure = showMainScreen(*m_view, m_state.get(), m_sync.get());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(mainState());
}

void SyncButtonGuiTest::cleanup()
{
    m_view.reset();
    m_sync.reset();
    m_state.reset();
    m_home.reset();
    m_server.reset();
}

bool SyncButtonGuiTest::sheetShown() const
{
    QQuickItem *field = item("emailField");
    return field && field->isVisible() && item("emailSheetLoader")->property("item").value<QObject *>();
}

qsizetype SyncButtonGuiTest::cardCount() const
{
    return cardContents().size();
}

QStringList SyncButtonGuiTest::cardContents() const
{
    QStringList contents;
    for (QQuickItem *card : itemsNamed(m_view->contentItem(), "noteCard")) {
        if (card->isVisible() && card->parentItem() && card->parentItem()->isVisible())
            contents << QString::fromUtf8(card->property("note").value<Note>().content);
    }
    contents.sort();
    return contents;
}

void SyncButtonGuiTest::click(const char *name)
{
    QQuickItem *target = item(name);
    QVERIFY2(target, name);
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(target));
}

void SyncButtonGuiTest::typeAddress(const QString &text)
{
    QQuickItem *field = item("emailField");
    QVERIFY(field);
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, centreOf(field));
    QTRY_VERIFY(field->hasActiveFocus());
    QTest::keyClick(m_view.get(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(m_view.get(), Qt::Key_Backspace);
    typeText(m_view.get(), text);
    QCOMPARE(field->property("text").toString(), text);
}

QStringList SyncButtonGuiTest::registeredAddresses() const
{
    SQLite::Database db(m_server->databasePath().toStdString(), SQLite::OPEN_READWRITE);
    SQLite::Statement query(db, "SELECT email FROM accounts ORDER BY email");
    QStringList addresses;
    while (query.executeStep())
        addresses << QString::fromStdString(query.getColumn(0).getString());
    return addresses;
}

void SyncButtonGuiTest::configure(const QString &address)
{
    const ServerResult configured = waitForTask(m_sync->configEmailAddress(address));
    QVERIFY2(configured.isSuccess(), qPrintable(configured.error().description));
}

void SyncButtonGuiTest::firstPressAsksForTheAddressThenTheNextPressSyncs()
{
    MainView *state = mainState();
    QQuickItem *icon = item("syncIcon");
    QObject *spin = icon->findChild<QObject *>(QStringLiteral("syncSpin"));
    QVERIFY(spin);
    QSignalSpy rotating(state, &MainView::isRotatingChanged);

    // Never configured: the press asks for the address, the icon stays still.
    {
        StdoutCapture printed;
        click("syncButton");
        // The keyring is read off the GUI thread: the answer comes a moment later.
        QTRY_COMPARE(printed.lines(), QStringList{QStringLiteral("no configuration yet")});
    }
    QVERIFY(state->noEmailConfiguration());
    QTRY_VERIFY(sheetShown());
    QCOMPARE(statusLine(), QStringLiteral("You need to configure your email address first"));
    QTRY_VERIFY(item("emailField")->hasActiveFocus());
    QCOMPARE(rotating.count(), 0);
    QVERIFY(!spin->property("running").toBool());
    QCOMPARE(icon->rotation(), 0.0);

    // Not an address: refused on the spot, nothing stored, nothing sent.
    typeAddress(QStringLiteral("ann.lee@example"));
    click("emailSave");
    QCOMPARE(statusLine(), QStringLiteral("Invalid email address"));
    QTest::qWait(200);
    QVERIFY(!loadEmailFromKeychain());
    QCOMPARE(registeredAddresses(), QStringList());
    QVERIFY(sheetShown());

    // Typed in capitals: the sheet hands it on lower-cased, so the keyring
    // holds it scrambled in lower case and the service registers that.
    QElapsedTimer clock;
    clock.start();
    PropertyLog status(item("emailStatus"), "text", clock);
    PropertyLog asking(state, "noEmailConfiguration", clock);
    typeAddress(typedAddress);
    click("emailSave");
    QCOMPARE(statusLine(), QStringLiteral("Configurating..."));
    QVERIFY(!item("emailField")->isEnabled());
    QVERIFY(!item("emailSave")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(status.saw(QStringLiteral("Email configured")), 10000);
    // The sheet shows the answer for a second before it closes.
    QTRY_VERIFY_WITH_TIMEOUT(asking.saw(false), 10000);
    QVERIFY2(asking.timeOf(false) - status.timeOf(QStringLiteral("Email configured")) >= 900,
             qPrintable(QString::number(asking.timeOf(false) - status.timeOf(QStringLiteral("Email configured")))));
    QTRY_VERIFY(!sheetShown());

    const std::optional<QString> stored = loadEmailFromKeychain();
    QVERIFY(stored);
    QVERIFY(*stored != sentAddress);
    QCOMPARE(xorDecrypt(*stored, QString::fromLatin1(emailXorKey)), std::optional<QString>(sentAddress));
    QCOMPARE(registeredAddresses(), QStringList{sentAddress});
    QCOMPARE(rotating.count(), 0);

    // The next press syncs: the icon spins while the exchange runs, then the
    // service's message shows for half a second.
    createNote("written here");
    const QString synced = QStringLiteral("Synced: 1 note stored, 0 notes to apply");
    PropertyLog message(state, "syncMessageOnMac", clock);
    PropertyLog shownMessage(item("syncMessage"), "text", clock);
    PropertyLog turned(icon, "rotation", clock);
    // The exchange is held at a relay on its way to the service while the
    // icon is watched, so that a fast local service cannot end it first.
    CannedServer relay;
    relay.forwardSyncTo(m_server->port());
    relay.holdSyncAnswers(true);
    SyncManager held(QUrl(QString::fromStdString(relay.baseUrl())), m_server->echo());
    state->setSyncManager(&held);
    {
        StdoutCapture printed;
        PropertyLog spinning(state, "isRotating", clock);
        PropertyLog running(spin, "running", clock);
        click("syncButton");
        // The keyring is read first, off the GUI thread; the spin starts then.
        QTRY_VERIFY_WITH_TIMEOUT(spinning.saw(true), 10000);
        QVERIFY(running.saw(true));
        QTRY_VERIFY(turned.sawAny([](const QVariant &angle) { return angle.toReal() > 0.0; }));
        relay.holdSyncAnswers(false);
        QTRY_VERIFY_WITH_TIMEOUT(message.sawThen(synced, QString()), 10000);
        QCOMPARE(printed.lines(), QStringList());
    }
    QVERIFY(shownMessage.sawThen(synced, QString()));
    QVERIFY2(message.shownFor(synced) >= 450, qPrintable(QString::number(message.shownFor(synced))));
    QVERIFY(!state->isRotating());
    QVERIFY(!spin->property("running").toBool());
    QTRY_COMPARE(icon->rotation(), 0.0);
    QVERIFY(!state->noEmailConfiguration());
    QCOMPARE(cardContents(), QStringList{QStringLiteral("written here")});
}

void SyncButtonGuiTest::noteFromAnotherMachineAppearsAfterTheSync()
{
    configure(typedAddress.toLower());
    createNote("written here");
    mainState()->loadNotes();
    QTRY_COMPARE(cardCount(), 1);

    // A second machine: its own home and store, the same account and service.
    {
        TemporaryHome elsewhere;
        DBManager::shared().setupDatabase();
        createNote("written elsewhere");
        SyncManager other(m_server->base(), m_server->echo());
        const ServerResult synced = waitForTask(other.syncNotes(typedAddress));
        QVERIFY2(synced.isSuccess(), qPrintable(synced.error().description));
    }
    m_home->enter();

    QElapsedTimer clock;
    clock.start();
    PropertyLog shownMessage(item("syncMessage"), "text", clock);
    click("syncButton");
    QTRY_VERIFY_WITH_TIMEOUT(shownMessage.saw(QStringLiteral("Synced: 1 note stored, 1 note to apply")), 10000);
    QTRY_COMPARE(cardContents(), (QStringList{QStringLiteral("written elsewhere"), QStringLiteral("written here")}));
}

void SyncButtonGuiTest::stoppedServiceShowsSyncFailedAndKeepsTheGrid()
{
    configure(sentAddress);
    createNote("kept as it was");
    mainState()->loadNotes();
    QTRY_COMPARE(cardCount(), 1);
    m_server->stop();

    QElapsedTimer clock;
    clock.start();
    PropertyLog shownMessage(item("syncMessage"), "text", clock);
    StdoutCapture printed;
    PropertyLog spinning(mainState(), "isRotating", clock);
    click("syncButton");
    QTRY_VERIFY_WITH_TIMEOUT(spinning.sawThen(true, false), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(shownMessage.sawThen(QStringLiteral("Sync failed"), QString()), 10000);
    QVERIFY(!mainState()->isRotating());
    QVERIFY(printed.lines().join('\n').contains(QStringLiteral("Network request failed: ")));
    QVERIFY(!printed.lines().contains(QStringLiteral("Sync failed")));
    QCOMPARE(cardContents(), QStringList{QStringLiteral("kept as it was")});
    QVERIFY(!sheetShown());
}

void SyncButtonGuiTest::unusableKeyringValues_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<bool>("asksForTheAddress");

    const QStringList descryptFailed{QStringLiteral("descrypt failed")};
    QByteArray scrambled = xorEncrypt(sentAddress, QString::fromLatin1(emailXorKey)).toUtf8();
    QByteArray withBreak = scrambled;
    withBreak.insert(8, '\n');
    // One byte that comes out as a lone 0xFF, which no UTF-8 text holds.
    const QByteArray notUtf8Inside = QByteArray(1, char(0xFF ^ emailXorKey[0])).toBase64();

    QTest::newRow("not Base64") << QByteArray("not Base64!") << descryptFailed << false;
    QTest::newRow("line break inside") << withBreak << descryptFailed << false;
    QTest::newRow("unscrambles to non-UTF-8") << notUtf8Inside << descryptFailed << false;
    QTest::newRow("empty address") << QByteArray() << QStringList() << false;
    QTest::newRow("value not UTF-8") << QByteArray("\xff\xfe", 2) << QStringList{QStringLiteral("no configuration yet")}
                                     << true;
}

void SyncButtonGuiTest::unusableKeyringValues()
{
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, printed);
    QFETCH(bool, asksForTheAddress);

    QCOMPARE(KeyringItem(KeyringItem::Backend::file).add(stored), KeyringItem::success);
    QSignalSpy rotating(mainState(), &MainView::isRotatingChanged);
    {
        StdoutCapture output;
        click("syncButton");
        QTest::qWait(300);
        QCOMPARE(output.lines(), printed);
    }
    QCOMPARE(mainState()->noEmailConfiguration(), asksForTheAddress);
    QCOMPARE(sheetShown(), asksForTheAddress);
    QCOMPARE(rotating.count(), 0);
    QCOMPARE(syncMessage(), QString());
    QCOMPARE(registeredAddresses(), QStringList());
}

void SyncButtonGuiTest::dismissedSheetReopensAfresh()
{
    MainView *state = mainState();
    click("syncButton");
    QTRY_VERIFY(sheetShown());
    typeAddress(QStringLiteral("half typed"));
    click("emailSave");
    QCOMPARE(statusLine(), QStringLiteral("Invalid email address"));

    QTest::keyClick(m_view.get(), Qt::Key_Escape);
    QTRY_VERIFY(!state->noEmailConfiguration());
    QTRY_VERIFY(!sheetShown());

    click("syncButton");
    QTRY_VERIFY(sheetShown());
    QCOMPARE(item("emailField")->property("text").toString(), QString());
    QCOMPARE(statusLine(), QStringLiteral("You need to configure your email address first"));

    // A press outside the sheet dismisses it as well.
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, QPoint(10, m_view->height() - 10));
    QTRY_VERIFY(!state->noEmailConfiguration());
    QTRY_VERIFY(!sheetShown());

    click("syncButton");
    QTRY_VERIFY(sheetShown());
    click("emailCancel");
    QTRY_VERIFY(!state->noEmailConfiguration());
    QTRY_VERIFY(!sheetShown());
    QVERIFY(!loadEmailFromKeychain());
}

void SyncButtonGuiTest::buttonIsDisabledWhileTheManagerSyncs()
{
    QQuickItem *button = item("syncButton");
    m_sync->setIsSyncing(true);
    QVERIFY(!button->isEnabled());
    {
        StdoutCapture printed;
        click("syncButton");
        QTest::qWait(100);
        QCOMPARE(printed.lines(), QStringList());
    }
    QVERIFY(!mainState()->noEmailConfiguration());

    m_sync->setIsSyncing(false);
    QVERIFY(button->isEnabled());
    click("syncButton");
    QTRY_VERIFY(sheetShown());
}

void SyncButtonGuiTest::screenGoneWhileASyncRuns()
{
    configure(sentAddress);
    createNote("sent while the screen goes");
    // The press's exchange is held on its way to the service until the
    // screen is gone.
    CannedServer relay;
    relay.forwardSyncTo(m_server->port());
    relay.holdSyncAnswers(true);
    SyncManager held(QUrl(QString::fromStdString(relay.baseUrl())), m_server->echo());
    mainState()->setSyncManager(&held);
    click("syncButton");
    QTRY_VERIFY_WITH_TIMEOUT(!relay.receivedOn("/api/sync").empty(), 10000);
    QVERIFY(mainState()->isRotating());
    m_view.reset();
    relay.holdSyncAnswers(false);

    // The first exchange's reply arrives while this one runs.
    const ServerResult later = waitForTask(m_sync->syncNotes(sentAddress));
    QVERIFY2(later.isSuccess(), qPrintable(later.error().description));
    QTest::qWait(600);
    QCOMPARE(DBManager::shared().fetchAllNotes().size(), 1);
}

// The service's word on approving this machine, and a rate limit's, reach the
// user readably: the sheet stays open on the approval answer, and the sync
// message stays long enough to be read.
void SyncButtonGuiTest::servicesLongerWordsStayReadable()
{
    const QString approval = QStringLiteral("Open the link mailed to you to approve this machine.");
    const QString limited = QStringLiteral("Too many requests; try again in a minute.");
    CannedServer canned;
    canned.setSyncAnswer({200, R"({"status":601,"msg":")" + approval.toStdString() + R"("})"});
    SyncManager gated(QUrl(QString::fromStdString(canned.baseUrl())), QUrl(QString::fromStdString(canned.echoUrl())));
    MainView *state = mainState();
    state->setSyncManager(&gated);

    QElapsedTimer clock;
    clock.start();
    click("syncButton");
    QTRY_VERIFY(sheetShown());
    typeAddress(typedAddress);
    PropertyLog asking(state, "noEmailConfiguration", clock);
    click("emailSave");
    QTRY_COMPARE_WITH_TIMEOUT(statusLine(), approval, 10000);
    QTest::qWait(1500);
    QVERIFY(sheetShown());
    QVERIFY(!asking.saw(false));
    QCOMPARE(statusLine(), approval);
    click("emailCancel");
    QTRY_VERIFY(!sheetShown());

    const struct {
        int status;
        QString body;
        QString shown;
    } answers[] = {
        {200, QStringLiteral(R"({"status":601,"msg":"%1"})").arg(approval), approval},
        {429, QStringLiteral(R"({"msg":"%1"})").arg(limited), limited},
    };
    for (const auto &answer : answers) {
        canned.setSyncAnswer({answer.status, answer.body.toStdString()});
        PropertyLog shown(state, "syncMessageOnMac", clock);
        click("syncButton");
        QTRY_VERIFY_WITH_TIMEOUT(shown.sawThen(answer.shown, QString()), 15000);
        // Half a second, and 60 ms a character to read it.
        const qint64 least = 500 + 60 * answer.shown.size() - 100;
        QVERIFY2(shown.shownFor(answer.shown) >= least, qPrintable(QString::number(shown.shownFor(answer.shown))));
    }
    QVERIFY(canned.receivedOn("/api/sync").front().authorization.rfind("Bearer ", 0) == 0);
}

QTEST_MAIN(SyncButtonGuiTest)
#include "tst_syncbutton_gui.moc"
