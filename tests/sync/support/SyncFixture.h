#pragma once

#include "CannedServer.h"
#include "DBManager.h"
#include "SyncManager.h"
#include "TestEnvironment.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

// A temporary home with a set-up store, a canned loopback server, and a
// SyncManager pointed at it.
class SyncFixture : public ::testing::Test {
protected:
    SyncFixture();

    static Note makeNote(const QString &id, const QByteArray &content, int64_t modified, bool deleted = false);
    static void store(const Note &note) { DBManager::shared().upsertNote(note); }
    // Sorted identifiers of every stored note, soft-deleted ones included.
    static QStringList storedIds();

    // A server note object with the nine members.
    static nlohmann::ordered_json serverNote(const std::string &id, const std::string &content, int64_t modified);

    void answerSync(int status, const std::string &body);
    void answerSync(int status, const nlohmann::ordered_json &body) { answerSync(status, body.dump()); }
    // The bodies of the sync requests the server received, parsed.
    std::vector<nlohmann::ordered_json> syncBodies() const;

    TemporaryHome home;
    CannedServer server;
    SyncManager manager;
};
