#pragma once

#include "AccessOptions.h"
#include "SqlStore.h"
#include "SyncHttp.h"

#include <string>
#include <variant>
#include <vector>

// How the program was asked to run.
struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = -1;
    std::string database;
    std::string certificate;
    std::string key;
    std::string chain;
    std::string log; // empty: standard error
    ServerLimits limits;
    AccessOptions access;
    StoreOptions store;
    // --copy-sqlite: the SQLite file to copy into the PostgreSQL of --db.
    std::string copyFrom;
};

struct HelpRequested {};

// A refused command line; `message` is one line for the user.
struct OptionError {
    std::string message;
};

using ParsedOptions = std::variant<ServerOptions, HelpRequested, OptionError>;

ParsedOptions parseServerOptions(const std::vector<std::string> &arguments);

// The text that --help prints.
std::string serverUsage();
