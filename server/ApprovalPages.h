#pragma once

#include "Mailer.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What the owner of an address reads: the approval mail and the pages that
// its link opens. Every value from outside is escaped; the pages load
// nothing from anywhere and run no script.

// `text` with &, <, >, " and ' as character references.
std::string escapeHtml(std::string_view text);

// "2026-12-11 03:13 UTC"
std::string utcTime(int64_t secondsSince1970);

// The mail that carries the approval link `link`.
Mail approvalMail(const std::string &email, const std::string &requestIp, int64_t requestTime,
                  int64_t expiryTime, const std::string &link);

// The page the link opens: what asked, and a button that approves.
std::string approvalPage(const std::string &email, const std::string &requestIp, int64_t requestTime,
                         const std::string &token);
std::string approvedPage();
// A link used before, expired, or never sent.
std::string invalidLinkPage();

// The headers every page goes with.
const std::vector<std::pair<std::string, std::string>> &pageHeaders();

// The value of `name` in a query string or a form body
// (application/x-www-form-urlencoded); empty when it is not there.
std::string formValue(std::string_view form, std::string_view name);
