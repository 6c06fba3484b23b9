#pragma once

#include "PostgresCluster.h"
#include "ServerHarness.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

// A note object with its nine members.
nlohmann::ordered_json noteObject(const std::string &id, const std::string &content, int64_t modified,
                                  int64_t deleted = 0);

// `note` with the revision its machine holds.
nlohmann::ordered_json withRev(nlohmann::ordered_json note, int64_t rev);

// A sync request body for `email` carrying `notes`.
std::string syncBody(const std::string &email, const nlohmann::ordered_json &notes = nlohmann::ordered_json::array());

// 64 random lower-case hex digits: a new machine's secret.
std::string newMachineSecret();

// The headers a machine sends: its secret as a bearer token. Without an
// argument, one secret kept for the whole test program.
httplib::Headers machineHeaders(const std::string &secret = {});

// The two stores the service runs on; tests that go through the store run on both.
enum class StoreKind { SQLite, PostgreSQL };

inline std::string storeKindName(const ::testing::TestParamInfo<StoreKind> &info)
{
    return info.param == StoreKind::SQLite ? "SQLite" : "PostgreSQL";
}

// A new, empty store: the file "service.db" in `folder`, or a database of its
// own in the program's one PostgreSQL cluster.
std::string newStoreAddress(StoreKind kind, const TemporaryFolder &folder);

#define INSTANTIATE_FOR_BOTH_STORES(suite)                                                                             \
    INSTANTIATE_TEST_SUITE_P(Stores, suite, ::testing::Values(StoreKind::SQLite, StoreKind::PostgreSQL), storeKindName)
