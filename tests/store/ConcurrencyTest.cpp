#include "DBError.h"
#include "StoreTestSupport.h"

#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>

#include <atomic>
#include <latch>
#include <thread>

namespace {

// Both threads replace the shared connection all the time. Two connections on
// one file may see each other's locks (no busy time-out is set), so SQLITE_BUSY
// is an expected answer; anything else, a crash or a sanitizer report is not.
bool isLockContention(const SQLite::Exception &error)
{
    return error.getErrorCode() == SQLITE_BUSY || error.getErrorCode() == SQLITE_LOCKED;
}

using ConcurrencyTest = StoreTest;

TEST_F(ConcurrencyTest, MainThreadAndWorkerReplaceTheConnectionSafely)
{
    constexpr int kRounds = 150;
    std::latch start(2);
    std::atomic<bool> mainDone{false};
    std::atomic<int> workerReads{0};
    std::atomic<int> workerUnexpected{0};

    std::thread worker([&] {
        start.arrive_and_wait();
        while (!mainDone.load()) {
            try {
                const QList<Note> notes = store.fetchNotesForSync();
                if (!notes.isEmpty())
                    store.fetchNote(notes.front().id);
                ++workerReads;
            } catch (const SQLite::Exception &error) {
                if (!isLockContention(error))
                    ++workerUnexpected;
            } catch (const DBError &) {
                // The main thread deletes notes permanently: the one just listed
                // may be gone by the time it is fetched.
            } catch (...) {
                ++workerUnexpected;
            }
        }
    });

    QStringList created;
    int unexpected = 0;
    start.arrive_and_wait();
    for (int round = 0; round < kRounds; ++round) {
        try {
            const QString id = store.createNote();
            created.append(id);
            store.saveNote(id, QByteArray("text ") + QByteArray::number(round), 1, false, "", 0, "");
            store.updateFavoriteStatus(id, round % 2);
            store.fetchAllNotes();
            if (round % 3 == 0) {
                store.deleteNotePermanently(id);
                created.removeLast();
            }
        } catch (const SQLite::Exception &error) {
            if (!isLockContention(error)) {
                ADD_FAILURE() << error.what();
                ++unexpected;
            }
        }
    }
    mainDone = true;
    worker.join();

    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(workerUnexpected.load(), 0);
    EXPECT_GT(workerReads.load(), 0);
    EXPECT_FALSE(created.isEmpty());

    // Whatever survived the contention is intact and readable.
    const QList<Note> stored = store.fetchNotesForSync();
    for (const QString &id : created) {
        bool found = false;
        for (const Note &note : stored)
            found = found || note.id == id;
        EXPECT_TRUE(found) << id.toStdString();
    }
    // Only the store and this test hold the current connection.
    EXPECT_EQ(store.db().use_count(), 2);
}

} // namespace
