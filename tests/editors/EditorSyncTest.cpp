// An editor open while a real sync exchange brings another machine's newer
// copy of its note: leaving keeps that copy unless the user changed the note.
#include "NoteDetailView.h"

#include "support/SyncFixture.h"

using nlohmann::ordered_json;

namespace {

const QString noteId = QStringLiteral("edited-on-two-machines");

class EditorDuringSync : public SyncFixture {
protected:
    void SetUp() override
    {
        store(makeNote(noteId, "written here", 1000));
        editor.setAppState(&appState);
        editor.setNoteId(noteId);
        editor.loadNote();
    }

    // A sync whose reply carries the other machine's newer copy.
    void syncBringsNewerCopy()
    {
        ordered_json reply = {{"status", 602}, {"msg", "one new"}, {"notes", ordered_json::array()}};
        reply["notes"].push_back(serverNote(noteId.toStdString(), "written on the other machine", 2000));
        answerSync(200, reply);
        ASSERT_TRUE(waitForTask(manager.syncNotes(QStringLiteral("user@example.org"))).isSuccess());
    }

    // What the next sync sends of the note.
    std::string sentNextTime()
    {
        answerSync(200, std::string(R"({"status":601,"msg":"nothing new"})"));
        EXPECT_TRUE(waitForTask(manager.syncNotes(QStringLiteral("user@example.org"))).isSuccess());
        const std::vector<ordered_json> bodies = syncBodies();
        for (const ordered_json &sent : bodies.back()["notes"]) {
            if (sent["noteid"] == noteId.toStdString())
                return sent["content"].get<std::string>();
        }
        return "<not sent>";
    }

    AppState appState;
    NoteDetailView editor;
};

TEST_F(EditorDuringSync, LeavingUntouchedKeepsTheNewerCopy)
{
    syncBringsNewerCopy();

    editor.goHome();

    EXPECT_TRUE(appState.currentView() == AppState::AppView::main());
    const Note stored = DBManager::shared().fetchNote(noteId);
    EXPECT_EQ(stored.content, QByteArray("written on the other machine"));
    EXPECT_EQ(stored.lastModifiedDate, 2000);
    EXPECT_EQ(sentNextTime(), "written on the other machine");
}

TEST_F(EditorDuringSync, TextTypedBeforeTheReplyIsStoredOnLeaving)
{
    editor.textEdited(QStringLiteral("written here, and more"));
    syncBringsNewerCopy();

    editor.goHome();

    EXPECT_EQ(DBManager::shared().fetchNote(noteId).content, QByteArray("written here, and more"));
    EXPECT_EQ(sentNextTime(), "written here, and more");
}

} // namespace
