// The editors inside the whole application window: from the grid's new-note
// button and cards into the editors and back to the cards.
#include "AppWindow.h"
#include "EditorTestSupport.h"
#include "TovikNoteApp.h"
#include "WindowDriver.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(TovikNote_AppPlugin)

class EditorsInAppTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void newNoteReachesItsCard();
    void newTodoListShowsItsOpenItem();
    void openingACardAndLeavingChangesNothing();

private:
    QList<QQuickItem *> named(const QString &name) const { return m_driver->named(name); }
    QStringList texts(const QList<QQuickItem *> &items) const { return WindowDriver::texts(items); }

    std::unique_ptr<TestHome> m_store;
    std::unique_ptr<TovikNoteApp> m_app;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    std::unique_ptr<WindowDriver> m_driver;
};

void EditorsInAppTest::initTestCase()
{
    m_store = std::make_unique<TestHome>();
    m_app = std::make_unique<TovikNoteApp>();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_window = showAppWindow(*m_app, *m_engine);
    QVERIFY(m_window);
    m_driver = std::make_unique<WindowDriver>(m_window);
}

void EditorsInAppTest::cleanupTestCase()
{
    m_engine.reset();
    m_app.reset();
    m_store.reset();
}

void EditorsInAppTest::newNoteReachesItsCard()
{
    QVERIFY(m_driver->clickNamed("newNoteButton"));
    QVERIFY(m_driver->clickNamed("contentEditor"));
    m_driver->type("Pay rent");
    QTest::keyClick(m_window, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(texts(named("savedMessage")), QStringList{"Saved"});

    QVERIFY(m_driver->clickNamed("homeButton"));
    QTRY_VERIFY(texts(named("previewText")).contains("Pay rent"));
    QVERIFY(m_app->appState().currentView() == AppState::AppView::main());
}

void EditorsInAppTest::newTodoListShowsItsOpenItem()
{
    QVERIFY(m_driver->clickNamed("newNoteButton"));
    QVERIFY(m_driver->clickNamed("todoType"));
    QTest::keyClick(m_window, Qt::Key_G, Qt::ControlModifier);
    QVERIFY(m_driver->clickNamed("itemEditor"));
    m_driver->type("milk");
    QVERIFY(m_driver->clickNamed("addItemButton"));
    QTRY_COMPARE(named("itemEditor").size(), 2);
    QVERIFY(m_driver->click(named("itemEditor").at(1)));
    m_driver->type("bread");
    QVERIFY(m_driver->click(named("checkBox").at(0)));
    QTRY_COMPARE(texts(named("doneText")), QStringList{"milk"});

    QVERIFY(m_driver->clickNamed("homeButton"));
    QTRY_VERIFY(texts(named("previewText")).contains("bread"));
    QVERIFY(!texts(named("previewText")).contains("milk"));
}

void EditorsInAppTest::openingACardAndLeavingChangesNothing()
{
    const Note note = storedNote("Water the plants", 1);
    // The grid reloads when it is shown again.
    QVERIFY(m_driver->clickNamed("newNoteButton"));
    QVERIFY(m_driver->clickNamed("homeButton"));
    QTRY_VERIFY(texts(named("previewText")).contains("Water the plants"));

    QQuickItem *card = nullptr;
    for (QQuickItem *preview : named("previewText")) {
        if (preview->property("text").toString() == "Water the plants")
            card = preview;
    }
    QVERIFY(m_driver->click(card));
    QTRY_COMPARE(texts(named("contentEditor")), QStringList{"Water the plants"});
    QVERIFY(m_driver->clickNamed("homeButton"));

    QTRY_VERIFY(m_app->appState().currentView() == AppState::AppView::main());
    QCOMPARE(DBManager::shared().fetchNote(note.id).lastModifiedDate, 1000);
}

QTEST_MAIN(EditorsInAppTest)
#include "tst_editors_app.moc"
