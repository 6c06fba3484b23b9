#include "StoreCopy.h"

#include "AccessOptions.h"
#include "AccountGate.h"
#include "SyncService.h"

#include <filesystem>
#include <stdexcept>

namespace {

struct Table {
    const char *name;
    const char *columns;
    int count;
};

// Children after their parents: notes name their account.
constexpr Table tables[] = {
    {"accounts", "email, registeredtime", 2},
    {"notes", "email, noteid, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite, filelink, rev",
     11},
    {"note_versions",
     "email, noteid, rev, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite, filelink, "
     "replacedtime, versionhash, whole",
     14},
    {"note_receipts", "email, noteid, baserev, copyhash, rev, savedtime", 6},
    {"machines", "machinekey, email, approvedtime", 3},
    {"approvals", "tokenhash, email, machinekey, requestip, requestedtime, expirestime", 6},
    {"ratelimits", "bucket, level, updatedms, fullms", 4},
};

int64_t rowsIn(SqlStore &store, const Table &table)
{
    int64_t rows = 0;
    store.transact({}, true, [&](SqlSession &db) {
        db.first(std::string("SELECT COUNT(*) FROM ") + table.name, {},
                 [&](const SqlRow &row) { rows = row.integer(0); });
    });
    return rows;
}

// Both stores with every table a service makes.
std::unique_ptr<SyncService> readyService(std::unique_ptr<SqlStore> store)
{
    auto service = std::make_unique<SyncService>(std::move(store));
    // Making the gate makes its tables; it serves nothing here, so logs nothing.
    const ServiceLog log;
    AccountGate gate(*service, AccessOptions{}, log);
    return service;
}

} // namespace

bool copySqliteStore(const std::string &sqlitePath, const std::string &postgresAddress, std::ostream &out)
{
    if (!isPostgresAddress(postgresAddress))
        throw std::runtime_error("the copy goes into PostgreSQL: --db must be a postgresql:// address");
    if (!std::filesystem::is_regular_file(sqlitePath))
        throw std::runtime_error("no SQLite file \"" + sqlitePath + "\"");
    const auto source = readyService(openSqlStore(sqlitePath));
    const auto target = readyService(openSqlStore(postgresAddress));
    if (rowsIn(target->store(), tables[0]) > 0)
        throw std::runtime_error("the PostgreSQL database already holds accounts; copy into an empty one");

    target->store().transact({}, true, [&](SqlSession &into) {
        for (const Table &table : tables) {
            std::string insert = std::string("INSERT INTO ") + table.name + " (" + table.columns + ") VALUES (";
            for (int i = 0; i < table.count; ++i)
                insert += i == 0 ? "?" : ", ?";
            insert += ")";
            source->store().transact({}, true, [&](SqlSession &from) {
                from.each(std::string("SELECT ") + table.columns + " FROM " + table.name, {},
                          [&](const SqlRow &row) {
                              SqlParams values;
                              values.reserve(std::size_t(table.count));
                              for (int i = 0; i < table.count; ++i)
                                  values.push_back(row.value(i));
                              into.run(insert, values);
                          });
            });
        }
    });

    bool agree = true;
    for (const Table &table : tables) {
        const int64_t from = rowsIn(source->store(), table);
        const int64_t into = rowsIn(target->store(), table);
        out << table.name << ": " << from << " rows in the SQLite file, " << into << " in PostgreSQL"
            << (from == into ? "" : " - DIFFERENT") << "\n";
        agree = agree && from == into;
    }
    return agree;
}
