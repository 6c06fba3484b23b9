#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>

// A temporary folder removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// A note object with its nine members.
nlohmann::ordered_json noteObject(const std::string &id, const std::string &content, int64_t modified,
                                  int64_t deleted = 0);

// A sync request body for `email` carrying `notes`.
std::string syncBody(const std::string &email, const nlohmann::ordered_json &notes = nlohmann::ordered_json::array());
