#pragma once

#include "ServiceLog.h"

#include "AccessOptions.h"
#include "Mailer.h"
#include "RateLimits.h"
#include "SyncService.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Lets only an account's own machines reach it, in front of SyncService.
//
// Each machine sends a secret of its own; the service keeps a hash of it per
// address. A request whose secret the address does not know stores nothing
// and returns nothing: the address is mailed a one-time link that approves
// the machine, and the answer is the same for an address with an account as
// for one without, down to the work done. Requests per client IP address and
// mails per address are rate-limited, with every count and link kept in the
// service database. Without mail (a loopback service, or --open) each new
// machine is approved on first use.
class AccountGate {
public:
    static constexpr const char *approvalNeededMessage =
        "This machine is not approved for this address yet. Open the link mailed to the address, press "
        "\"Approve this machine\", then sync again. A new link goes out at most every 10 minutes.";
    static constexpr const char *noSecretMessage =
        "This version of TovikNote sends no machine key; update it to sync with this service";
    static constexpr int64_t linkLifetimeSeconds = 24 * 60 * 60;
    static constexpr int64_t mailIntervalSeconds = 10 * 60;

    AccountGate(SyncService &service, AccessOptions options, const ServiceLog &log);
    ~AccountGate();
    AccountGate(const AccountGate &) = delete;
    AccountGate &operator=(const AccountGate &) = delete;

    // POST /api/sync: the Authorization header's value, the client's IP
    // address and the body. An approved machine's request goes on to
    // SyncService::handleSync.
    ServiceResponse handleSync(std::string_view authorization, const std::string &clientIp, std::string_view body);

    // GET (the page with its button) and POST (the approval itself) of
    // /approve; `target` is the request target with its query.
    ServiceResponse handleApproval(std::string_view method, std::string_view target, const std::string &clientIp,
                                   std::string_view body);

    const AccessOptions &options() const { return m_options; }

private:
    struct Admission;
    Admission admit(SqlSession &db, const std::string &clientIp, int64_t nowMs);
    void forgetExpired(SqlSession &db, int64_t nowMs);

    SyncService &m_service;
    const AccessOptions m_options;
    const ServiceLog &m_log;
    std::unique_ptr<Mailer> m_mailer;
    std::atomic<int64_t> m_nextForgetMs{0};
};

// The secret of an "Authorization: Bearer <64 lower-case hex digits>" value.
std::optional<std::string> bearerSecret(std::string_view authorization);

// The lower-cased "email" member of a sync request body, as SyncService reads
// it (a repeated member: the last one). Throws std::invalid_argument with the
// message for the client when the body has none.
std::string requestEmail(std::string_view body);

// Whether `email` may go into a mail's envelope and header as it is.
bool isMailableAddress(std::string_view email);
