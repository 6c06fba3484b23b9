// The editors inside the whole application window: from the grid's new-note
// button and cards into the editors and back to the cards.
#include "AppWindow.h"
#include "EditorTestSupport.h"
#include "TovikNoteApp.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(TovikNote_AppPlugin)

namespace {

QList<QQuickItem *> shownNamed(QQuickItem *root, const QString &name)
{
    QList<QQuickItem *> found;
    if (!root || !root->isVisible())
        return found;
    if (root->objectName() == name)
        found.append(root);
    for (QQuickItem *child : root->childItems())
        found += shownNamed(child, name);
    std::sort(found.begin(), found.end(), [](QQuickItem *a, QQuickItem *b) {
        return a->mapToScene(QPointF()).y() < b->mapToScene(QPointF()).y();
    });
    return found;
}

QStringList texts(const QList<QQuickItem *> &items)
{
    QStringList result;
    for (QQuickItem *item : items)
        result << item->property("text").toString();
    return result;
}

} // namespace

class EditorsInAppTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void newNoteReachesItsCard();
    void newTodoListShowsItsOpenItem();
    void openingACardAndLeavingChangesNothing();

private:
    QQuickItem *root() const { return m_window->contentItem(); }
    QList<QQuickItem *> named(const QString &name) const { return shownNamed(root(), name); }
    // The one item of that name once any screen change has faded out.
    QQuickItem *only(const QString &name)
    {
        if (!QTest::qWaitFor([&] { return named(name).size() == 1; }))
            return nullptr;
        return named(name).first();
    }
    void click(QQuickItem *item)
    {
        QVERIFY2(item, "nothing to click");
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }
    void type(const QString &text)
    {
        for (const QChar character : text)
            QTest::keyClick(m_window, character.toLatin1());
    }
    void clickNamed(const QString &name) { click(only(name)); }

    std::unique_ptr<TestHome> m_store;
    std::unique_ptr<TovikNoteApp> m_app;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
};

void EditorsInAppTest::initTestCase()
{
    m_store = std::make_unique<TestHome>();
    m_app = std::make_unique<TovikNoteApp>();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_window = showAppWindow(*m_app, *m_engine);
    QVERIFY(m_window);
}

void EditorsInAppTest::cleanupTestCase()
{
    m_engine.reset();
    m_app.reset();
    m_store.reset();
}

void EditorsInAppTest::newNoteReachesItsCard()
{
    clickNamed("newNoteButton");
    clickNamed("contentEditor");
    type("Pay rent");
    QTest::keyClick(m_window, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(texts(named("savedMessage")), QStringList{"Saved"});

    clickNamed("homeButton");
    QTRY_VERIFY(texts(named("previewText")).contains("Pay rent"));
    QVERIFY(m_app->appState().currentView() == AppState::AppView::main());
}

void EditorsInAppTest::newTodoListShowsItsOpenItem()
{
    clickNamed("newNoteButton");
    clickNamed("todoType");
    QTest::keyClick(m_window, Qt::Key_G, Qt::ControlModifier);
    clickNamed("itemEditor");
    type("milk");
    clickNamed("addItemButton");
    QTRY_COMPARE(named("itemEditor").size(), 2);
    click(named("itemEditor").at(1));
    type("bread");
    click(named("checkBox").at(0));
    QTRY_COMPARE(texts(named("doneText")), QStringList{"milk"});

    clickNamed("homeButton");
    QTRY_VERIFY(texts(named("previewText")).contains("bread"));
    QVERIFY(!texts(named("previewText")).contains("milk"));
}

void EditorsInAppTest::openingACardAndLeavingChangesNothing()
{
    const Note note = storedNote("Water the plants", 1);
    // The grid reloads when it is shown again.
    clickNamed("newNoteButton");
    clickNamed("homeButton");
    QTRY_VERIFY(texts(named("previewText")).contains("Water the plants"));

    QQuickItem *card = nullptr;
    for (QQuickItem *preview : named("previewText")) {
        if (preview->property("text").toString() == "Water the plants")
            card = preview;
    }
    click(card);
    QTRY_COMPARE(texts(named("contentEditor")), QStringList{"Water the plants"});
    clickNamed("homeButton");

    QTRY_VERIFY(m_app->appState().currentView() == AppState::AppView::main());
    QCOMPARE(DBManager::shared().fetchNote(note.id).lastModifiedDate, 1000);
}

QTEST_MAIN(EditorsInAppTest)
#include "tst_editors_app.moc"
