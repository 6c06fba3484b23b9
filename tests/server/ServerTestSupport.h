#pragma once

#include "ServerHarness.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

// A note object with its nine members.
nlohmann::ordered_json noteObject(const std::string &id, const std::string &content, int64_t modified,
                                  int64_t deleted = 0);

// A sync request body for `email` carrying `notes`.
std::string syncBody(const std::string &email, const nlohmann::ordered_json &notes = nlohmann::ordered_json::array());

// 64 random lower-case hex digits: a new machine's secret.
std::string newMachineSecret();

// The headers a machine sends: its secret as a bearer token. Without an
// argument, one secret kept for the whole test program.
httplib::Headers machineHeaders(const std::string &secret = {});
