// Problems with the notes file shown in the window in plain words, with
// nothing lost: a damaged page, a value another program left NULL, a
// read-only file, a folder that cannot hold the file, and a file another
// program holds locked. Run as an ordinary user: a test started as root
// gives up its rights first, since root may write any file.
#include "AppWindow.h"
#include "DBManager.h"
#include "FileMode.h"
#include "ProblemNotice.h"
#include "TovikNoteApp.h"
#include "WindowDriver.h"

#include <SQLiteCpp/Database.h>

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

Q_IMPORT_QML_PLUGIN(TovikNote_AppPlugin)

namespace {

constexpr int kNotes = 300;

QByteArray contentOf(int i)
{
    return QStringLiteral("note number %1 ").arg(i).toUtf8().repeated(6);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Overwrites the cells of one leaf page of the notes table, in the middle of
// the file, as a disk fault would; gives how many notes it held.
int damageOneLeafPage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return -1;
    QByteArray bytes = file.readAll();
    const int pageSize = (uchar(bytes[16]) << 8) | uchar(bytes[17]);
    const int pages = int(bytes.size() / pageSize);
    for (int page = pages / 2; page < pages; ++page) {
        const qsizetype start = qsizetype(page) * pageSize;
        const int cells = (uchar(bytes[start + 3]) << 8) | uchar(bytes[start + 4]);
        // 0x0d: a leaf of a table; the notes' pages hold several rows each.
        if (uchar(bytes[start]) != 0x0d || cells < 5)
            continue;
        for (qsizetype i = start + 8; i < start + pageSize; ++i)
            bytes[i] = char(0xff);
        file.seek(0);
        file.write(bytes);
        return cells;
    }
    return -1;
}

// A folder of the test's own as the user's home, with notes in it.
struct Home {
    Home()
    {
        qputenv("HOME", dir.path().toLocal8Bit());
    }
    QString folder() const { return dir.path() + QStringLiteral("/.tovik"); }
    QString file() const { return folder() + QStringLiteral("/tovik.db"); }
    // Notes stored by a store of the home's own, closed again afterwards.
    void storeNotes(int count) const
    {
        DBManager store;
        store.setupDatabase();
        for (int i = 0; i < count; ++i)
            store.upsertNote(Note{QStringLiteral("note-%1").arg(i, 4, 10, QLatin1Char('0')), contentOf(i), 1, false,
                                  1000 + i, 1000 + i, QString(), 0, QString()});
    }
    QTemporaryDir dir;
};

struct RunningApp {
    RunningApp()
    {
        app = std::make_unique<TovikNoteApp>();
        window = showAppWindow(*app, engine);
    }
    QStringList messages() const { return ProblemNotice::shared().messages(); }
    bool says(const QString &words) const
    {
        return QTest::qWaitFor([&] { return messages().join('\n').contains(words); }, 10'000);
    }
    int shownNotes() const { return int(app->appState().notes().size()); }

    std::unique_ptr<TovikNoteApp> app;
    QQmlApplicationEngine engine;
    QQuickWindow *window = nullptr;
};

} // namespace

class ProblemsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runsAsAnOrdinaryUser();
    void unreadableNotesAreCountedAndTheRestShown_data();
    void unreadableNotesAreCountedAndTheRestShown();
    void aFileThatCannotBeWrittenSaysWhy_data();
    void aFileThatCannotBeWrittenSaysWhy();
    void theNoticeIsReadAndClosedByKeyboard();
    void aLockedFileKeepsTheEditorsText();
};

void ProblemsTest::runsAsAnOrdinaryUser()
{
    QVERIFY(::geteuid() != 0);
    // A first start under umask 022 still makes the folder and file private.
    Home home;
    RunningApp running;
    QVERIFY(running.window);
    QCOMPARE(modeOf(home.folder()), mode_t(0700));
    QCOMPARE(modeOf(home.file()), mode_t(0600));
    QVERIFY(running.messages().isEmpty());
}

void ProblemsTest::unreadableNotesAreCountedAndTheRestShown_data()
{
    QTest::addColumn<bool>("damagedPage");
    QTest::newRow("damaged page") << true;
    QTest::newRow("NULL left by another program") << false;
}

void ProblemsTest::unreadableNotesAreCountedAndTheRestShown()
{
    QFETCH(bool, damagedPage);
    Home home;
    int unreadable = 1;
    if (damagedPage) {
        home.storeNotes(kNotes);
        unreadable = damageOneLeafPage(home.file());
        QVERIFY(unreadable > 0);
    } else {
        // A table written without the constraints, by another program.
        QVERIFY(QDir().mkpath(home.folder()));
        SQLite::Database other(home.file().toStdString(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        other.exec("CREATE TABLE user (uid TEXT PRIMARY KEY, email TEXT, passcode TEXT, createdtime INTEGER)");
        other.exec("INSERT INTO user VALUES ('bid-1', NULL, NULL, 1)");
        other.exec("CREATE TABLE notes (noteid TEXT PRIMARY KEY, content BLOB, type INTEGER, isdeleted INTEGER, "
                   "createdtime INTEGER, lastmodifiedtime INTEGER, title TEXT, isfavorite INTEGER, filelink TEXT, "
                   "isbackup INTEGER)");
        for (int i = 0; i < kNotes; ++i) {
            SQLite::Statement insert(other, "INSERT INTO notes VALUES (?, ?, 1, 0, 1, ?, ?, 0, '', 0)");
            insert.bind(1, QStringLiteral("note-%1").arg(i).toStdString());
            insert.bind(2, contentOf(i).constData(), int(contentOf(i).size()));
            insert.bind(3, 1000 + i);
            if (i != 7)
                insert.bind(4, "");
            insert.exec();
        }
    }
    const QByteArray before = readAll(home.file());

    RunningApp running;
    QVERIFY(running.window);
    QVERIFY(QTest::qWaitFor([&] { return running.shownNotes() == kNotes - unreadable; }, 10'000));
    QVERIFY2(running.says(unreadable == 1 ? QStringLiteral("1 note could not be read")
                                          : QStringLiteral("%1 notes could not be read").arg(unreadable)),
             qPrintable(running.messages().join('\n')));
    QVERIFY(running.says(QStringLiteral("The %1 other notes are shown.").arg(kNotes - unreadable)));
    WindowDriver driver(running.window);
    QQuickItem *banner = driver.only(QStringLiteral("problemBanner"));
    QVERIFY(banner);

    // A new note is a write: a damaged file is kept as it was beforehand.
    QVERIFY(driver.clickNamed(QStringLiteral("newNoteButton")));
    QVERIFY(QTest::qWaitFor([&] { return running.app->appState().currentViewKind() == AppState::NewNoteScreen; }));
    const QStringList copies = QDir(home.folder()).entryList({QStringLiteral("tovik.db.damaged-*")}, QDir::Files);
    if (damagedPage) {
        QCOMPARE(copies.size(), 1);
        const QString copy = home.folder() + QLatin1Char('/') + copies.first();
        QCOMPARE(readAll(copy), before);
        QCOMPARE(modeOf(copy), mode_t(0600));
        QVERIFY(running.says(QStringLiteral("A copy of it as it was is kept at ~/.tovik/%1").arg(copies.first())));
    } else {
        // The file's structure is sound; only a value is missing.
        QVERIFY(copies.isEmpty());
    }
}

void ProblemsTest::aFileThatCannotBeWrittenSaysWhy_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("atStart");
    QTest::addColumn<QString>("atNewNote");
    QTest::addColumn<int>("shown");
    QTest::newRow("read-only file") << "read-only file"
                                    << "Your notes file ~/.tovik/tovik.db is read-only: new notes and changes cannot be saved."
                                    << "A new note cannot be made: the notes file ~/.tovik/tovik.db is read-only." << 3;
    QTest::newRow("folder is a plain file") << "plain file"
                                            << "Your notes cannot be opened: the notes file ~/.tovik/tovik.db cannot be opened."
                                            << "A new note cannot be made: the notes file ~/.tovik/tovik.db cannot be opened."
                                            << 0;
}

void ProblemsTest::aFileThatCannotBeWrittenSaysWhy()
{
    QFETCH(QString, fault);
    QFETCH(QString, atStart);
    QFETCH(QString, atNewNote);
    QFETCH(int, shown);
    Home home;
    if (fault == "plain file") {
        QFile plain(home.folder());
        QVERIFY(plain.open(QIODevice::WriteOnly));
    } else {
        home.storeNotes(shown);
        QCOMPARE(::chmod(QFile::encodeName(home.file()).constData(), 0400), 0);
    }

    RunningApp running;
    QVERIFY(running.window);
    QVERIFY2(running.says(atStart), qPrintable(running.messages().join('\n')));
    QVERIFY(QTest::qWaitFor([&] { return running.shownNotes() == shown; }));
    // The "+" that did nothing now says why.
    WindowDriver driver(running.window);
    QVERIFY(driver.clickNamed(QStringLiteral("newNoteButton")));
    QVERIFY2(running.says(atNewNote), qPrintable(running.messages().join('\n')));
    QCOMPARE(running.app->appState().currentViewKind(), AppState::MainScreen);
    QCOMPARE(running.shownNotes(), shown);
    QQuickItem *text = driver.only(QStringLiteral("problemText"));
    QVERIFY(text);
    QVERIFY(text->property("text").toString().contains(atNewNote));
}

void ProblemsTest::theNoticeIsReadAndClosedByKeyboard()
{
    Home home;
    QFile plain(home.folder());
    QVERIFY(plain.open(QIODevice::WriteOnly));
    RunningApp running;
    QVERIFY(running.window);
    QVERIFY(running.says(QStringLiteral("Your notes cannot be opened")));
    WindowDriver driver(running.window);
    QQuickItem *banner = driver.only(QStringLiteral("problemBanner"));
    QQuickItem *close = driver.only(QStringLiteral("problemClose"));
    QVERIFY(banner && close);

    // A screen reader finds the banner as an alert that reads the message,
    // and its button by name.
    QAccessibleInterface *alert = QAccessible::queryAccessibleInterface(banner);
    QVERIFY(alert);
    QCOMPARE(alert->role(), QAccessible::AlertMessage);
    QCOMPARE(alert->text(QAccessible::Name), ProblemNotice::shared().text());
    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(close);
    QVERIFY(button);
    QCOMPARE(button->role(), QAccessible::Button);
    QCOMPARE(button->text(QAccessible::Name), QStringLiteral("Dismiss"));

    // Tab reaches the button; Escape closes the notice.
    QVERIFY(QTest::qWaitFor([&] {
        if (close->hasActiveFocus())
            return true;
        QTest::keyClick(running.window, Qt::Key_Tab);
        return close->hasActiveFocus();
    }, 10'000));
    QTest::keyClick(running.window, Qt::Key_Escape);
    QVERIFY(QTest::qWaitFor([&] { return !banner->isVisible(); }));
    QVERIFY(!ProblemNotice::shared().shown());
}

void ProblemsTest::aLockedFileKeepsTheEditorsText()
{
    Home home;
    home.storeNotes(1);
    RunningApp running;
    QVERIFY(running.window);
    WindowDriver driver(running.window);
    QVERIFY(QTest::qWaitFor([&] { return running.shownNotes() == 1; }));
    QVERIFY(driver.clickNamed(QStringLiteral("noteCard")));
    QQuickItem *editor = driver.only(QStringLiteral("contentEditor"));
    QVERIFY(editor);
    editor->forceActiveFocus();
    QTest::keyClick(running.window, Qt::Key_End, Qt::ControlModifier);
    driver.type(QStringLiteral(" kept"));

    // Another program holds the file for itself while the user saves.
    SQLite::Database other(home.file().toStdString(), SQLite::OPEN_READWRITE);
    other.exec("BEGIN EXCLUSIVE");
    QVERIFY(driver.clickNamed(QStringLiteral("homeButton")));
    QVERIFY2(running.says(QStringLiteral("Your note could not be saved: the notes file ~/.tovik/tovik.db is locked "
                                         "by another program. Its text stays in the editor.")),
             qPrintable(running.messages().join('\n')));
    QCOMPARE(running.app->appState().currentViewKind(), AppState::NoteDetailScreen);

    // Once it lets go, leaving the editor stores the text.
    other.exec("COMMIT");
    QVERIFY(driver.clickNamed(QStringLiteral("homeButton")));
    QVERIFY(QTest::qWaitFor([&] { return running.app->appState().currentViewKind() == AppState::MainScreen; }));
    QVERIFY(DBManager::shared().fetchNote(QStringLiteral("note-0000")).content.endsWith(" kept"));
}

// Root may write any file: the faults above need an ordinary user.
static void becomeAnOrdinaryUser()
{
    ::umask(022);
    if (::geteuid() != 0)
        return;
    const gid_t nogroup = 65534;
    const uid_t nobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(nobody) != 0)
        qFatal("cannot give up root's rights");
}

int main(int argc, char *argv[])
{
    becomeAnOrdinaryUser();
    QGuiApplication application(argc, argv);
    ProblemsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_problems_gui.moc"
