#pragma once

#include "ServerHarness.h"

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
