#include "SyncFixture.h"

#include <algorithm>

SyncFixture::SyncFixture()
    : manager(QUrl(QString::fromStdString(server.baseUrl())), QUrl(QString::fromStdString(server.echoUrl())))
{
    DBManager::shared().setupDatabase();
}

Note SyncFixture::makeNote(const QString &id, const QByteArray &content, int64_t modified, bool deleted)
{
    Note note;
    note.id = id;
    note.content = content;
    note.type = 1;
    note.isdeleted = deleted;
    note.createdDate = modified - 10;
    note.lastModifiedDate = modified;
    return note;
}

QStringList SyncFixture::storedIds()
{
    QStringList ids;
    for (const Note &note : DBManager::shared().fetchNotesForSync())
        ids << note.id;
    ids.sort();
    return ids;
}

nlohmann::ordered_json SyncFixture::serverNote(const std::string &id, const std::string &content, int64_t modified)
{
    return nlohmann::ordered_json{{"noteid", id},           {"content", content},
                                  {"type", 1},              {"isdeleted", 0},
                                  {"createdtime", modified - 10}, {"lastmodifiedtime", modified},
                                  {"title", ""},            {"isfavorite", 0},
                                  {"filelink", ""}};
}

void SyncFixture::answerSync(int status, const std::string &body)
{
    server.setSyncAnswer(CannedServer::Answer{status, body});
}

std::vector<nlohmann::ordered_json> SyncFixture::syncBodies() const
{
    std::vector<nlohmann::ordered_json> bodies;
    for (const auto &request : server.receivedOn("/api/sync"))
        bodies.push_back(nlohmann::ordered_json::parse(request.body));
    return bodies;
}
