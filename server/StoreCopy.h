#pragma once

#include <ostream>
#include <string>

// Copies a service's SQLite file into PostgreSQL (made ready as a service at
// start makes it): every account, note, kept version, receipt, machine, link
// and rate count, in one transaction, then compares the rows table by table.
// Refuses a target that already holds accounts. Prints one line per table;
// returns whether every count agreed. Throws with the reason when it cannot run.
bool copySqliteStore(const std::string &sqlitePath, const std::string &postgresAddress, std::ostream &out);
