// The store's files are for their owner alone, under a umask that would
// leave them readable by everyone.
#include "StoreTestSupport.h"

#include "PrivateFiles.h"
#include "FileMode.h"

#include <SQLiteCpp/Database.h>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// Sets the process umask for the life of the object.
class Umask {
public:
    explicit Umask(mode_t mask) : m_saved(::umask(mask)) {}
    ~Umask() { ::umask(m_saved); }

private:
    mode_t m_saved;
};

class PrivateFilesTest : public TempHomeTest {
protected:
    Umask umask{022};
};

} // namespace

TEST_F(PrivateFilesTest, AFirstStartMakesTheFolderAndTheFileOwnerOnly)
{
    store.setupDatabase();
    EXPECT_EQ(modeOf(tovikFolder()), 0700);
    EXPECT_EQ(modeOf(databaseFile()), 0600);
}

TEST_F(PrivateFilesTest, JournalsTakeTheDatabasesMode)
{
    store.setupDatabase();
    const QString noteId = store.createNote();

    struct Case {
        const char *journalMode;
        std::vector<const char *> suffixes;
    };
    const Case cases[] = {{"DELETE", {"-journal"}}, {"WAL", {"-wal", "-shm"}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.journalMode);
        SQLite::Database other(databaseFile().toStdString(), SQLite::OPEN_READWRITE);
        other.exec(std::string("PRAGMA journal_mode=") + c.journalMode);
        // A write held open keeps the journal on disk while it is looked at.
        other.exec("BEGIN IMMEDIATE");
        other.exec("UPDATE \"notes\" SET \"title\" = 'held'");
        for (const char *suffix : c.suffixes) {
            const QString journal = databaseFile() + suffix;
            ASSERT_TRUE(QFileInfo::exists(journal)) << suffix;
            EXPECT_EQ(modeOf(journal), 0600) << suffix;
        }
        other.exec("ROLLBACK");
    }
    EXPECT_EQ(store.fetchNote(noteId).id, noteId);
}

TEST_F(PrivateFilesTest, AFileRemovedWhileRunningComesBackOwnerOnly)
{
    store.setupDatabase();
    ASSERT_TRUE(QFile::remove(databaseFile()));
    EXPECT_ANY_THROW(store.fetchAllNotes());   // an empty file has no tables
    EXPECT_EQ(modeOf(databaseFile()), 0600);
}

TEST_F(PrivateFilesTest, OpenFilesAndFolderAreTightenedOnlyByRemovingBits)
{
    store.setupDatabase();
    struct Case {
        const char *name;
        mode_t before;
        mode_t after;
    };
    const Case cases[] = {
        {"tovik.db", 0644, 0600},
        {"tovik.db-wal", 0666, 0600},
        {"keyring", 0640, 0600},
        {"read-only", 0444, 0400},
        {"already-private", 0600, 0600},
    };
    for (const Case &c : cases) {
        const QString path = tovikFolder() + "/" + c.name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.close();
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), c.before), 0);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(tovikFolder()).constData(), 0755), 0);
    // A link to a file outside is not followed.
    const QString outside = homePath() + "/shared.txt";
    QFile(outside).open(QIODevice::WriteOnly);
    ASSERT_EQ(::chmod(QFile::encodeName(outside).constData(), 0644), 0);
    ASSERT_TRUE(QFile::link(outside, tovikFolder() + "/link"));

    privateFiles::tightenFolder(tovikFolder());

    EXPECT_EQ(modeOf(tovikFolder()), 0700);
    for (const Case &c : cases)
        EXPECT_EQ(modeOf(tovikFolder() + "/" + c.name), c.after) << c.name;
    EXPECT_EQ(modeOf(outside), 0644);
}
