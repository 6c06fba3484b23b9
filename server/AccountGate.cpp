#include "AccountGate.h"

#include "ApprovalPages.h"
#include "HexText.h"

#include <nlohmann/json.hpp>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

constexpr std::size_t secretHexDigits = 64;
constexpr int64_t forgetEveryMs = 60 * 1000;

int64_t nowMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string sha256(std::string_view data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    return std::string(reinterpret_cast<const char *>(digest), size);
}

bool isLowerHex(std::string_view text, std::size_t digits)
{
    return text.size() == digits
        && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// The key a machine is kept under: its secret bound to the address, so one
// secret sent for two addresses makes two machines.
std::string machineKey(const std::string &email, const std::string &secret)
{
    return sha256("tovik machine\n" + email + "\n" + secret);
}

constexpr const char *approveMachineSql =
    "INSERT INTO machines (machinekey, email, approvedtime) VALUES (?, ?, ?) ON CONFLICT DO NOTHING";

std::string jsonReply(int status, const std::string &message)
{
    nlohmann::ordered_json reply = nlohmann::ordered_json::object();
    reply["status"] = status;
    reply["msg"] = message;
    return reply.dump();
}

ServiceResponse tooMany(int64_t retryAfterSeconds)
{
    ServiceResponse response{429, SyncService::messageBody("Too many requests from this IP address; try again in "
                                                           + std::to_string(retryAfterSeconds) + " s")};
    response.headers.emplace_back("Retry-After", std::to_string(retryAfterSeconds));
    return response;
}

ServiceResponse htmlResponse(int status, std::string page)
{
    ServiceResponse response{status, std::move(page)};
    response.contentType = "text/html; charset=utf-8";
    response.headers = pageHeaders();
    return response;
}

// Skips one JSON value starting at `at` of a body assumed well-formed; a body
// that is not is refused later by the full reader, before it changes anything.
// Gives the position after the value, or npos.
std::size_t skipString(std::string_view text, std::size_t at)
{
    for (std::size_t i = at + 1; i < text.size();) {
        const std::size_t stop = text.find_first_of("\"\\", i);
        if (stop == std::string_view::npos)
            return stop;
        if (text[stop] == '"')
            return stop + 1;
        i = stop + 2;
    }
    return std::string_view::npos;
}

std::size_t skipSpace(std::string_view text, std::size_t at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
        ++at;
    return at;
}

std::size_t skipValue(std::string_view text, std::size_t at)
{
    if (at >= text.size())
        return std::string_view::npos;
    if (text[at] == '"')
        return skipString(text, at);
    if (text[at] != '{' && text[at] != '[') {
        while (at < text.size() && std::strchr(",}] \t\r\n", text[at]) == nullptr)
            ++at;
        return at;
    }
    std::size_t depth = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '"') {
            at = skipString(text, at);
            if (at == std::string_view::npos)
                return at;
            continue;
        }
        if (c == '{' || c == '[')
            ++depth;
        else if ((c == '}' || c == ']') && --depth == 0)
            return at + 1;
        ++at;
    }
    return std::string_view::npos;
}

std::string lowerAscii(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

} // namespace

std::optional<std::string> bearerSecret(std::string_view authorization)
{
    constexpr std::string_view scheme = "bearer";
    if (authorization.size() <= scheme.size())
        return std::nullopt;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (char(std::tolower(static_cast<unsigned char>(authorization[i]))) != scheme[i])
            return std::nullopt;
    }
    std::string_view rest = authorization.substr(scheme.size());
    if (rest.front() != ' ')
        return std::nullopt;
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t'))
        rest.remove_suffix(1);
    if (!isLowerHex(rest, secretHexDigits))
        return std::nullopt;
    return std::string(rest);
}

std::string requestEmail(std::string_view body)
{
    std::size_t at = skipSpace(body, 0);
    if (at >= body.size() || body[at] != '{')
        throw std::invalid_argument("The request must be a JSON object");
    std::optional<std::string_view> emailValue;
    at = skipSpace(body, at + 1);
    while (at < body.size() && body[at] != '}') {
        if (body[at] != '"')
            throw std::invalid_argument("Malformed JSON");
        const std::size_t keyEnd = skipString(body, at);
        if (keyEnd == std::string_view::npos)
            throw std::invalid_argument("Malformed JSON");
        const std::string_view key = body.substr(at, keyEnd - at);
        at = skipSpace(body, keyEnd);
        if (at >= body.size() || body[at] != ':')
            throw std::invalid_argument("Malformed JSON");
        const std::size_t valueStart = skipSpace(body, at + 1);
        const std::size_t valueEnd = skipValue(body, valueStart);
        if (valueEnd == std::string_view::npos)
            throw std::invalid_argument("Malformed JSON");
        // Keys may be written with escapes; the parser reads them as the reader does.
        const bool isEmail = key == "\"email\""
            || (key.find('\\') != std::string_view::npos && nlohmann::json::parse(key, nullptr, false) == "email");
        if (isEmail)
            emailValue = body.substr(valueStart, valueEnd - valueStart);
        at = skipSpace(body, valueEnd);
        if (at < body.size() && body[at] == ',')
            at = skipSpace(body, at + 1);
    }
    if (!emailValue)
        throw std::invalid_argument("\"email\" must be a string");
    const nlohmann::json value = nlohmann::json::parse(*emailValue, nullptr, false);
    if (!value.is_string())
        throw std::invalid_argument("\"email\" must be a string");
    std::string email = value.get<std::string>();
    if (email.empty())
        throw std::invalid_argument("\"email\" must not be empty");
    return lowerAscii(std::move(email));
}

bool isMailableAddress(std::string_view email)
{
    const std::size_t at = email.find('@');
    if (email.size() > 254 || at == 0 || at == std::string_view::npos || at + 1 >= email.size()
        || email.find('@', at + 1) != std::string_view::npos)
        return false;
    const std::string_view local = email.substr(0, at);
    const std::string_view domain = email.substr(at + 1);
    constexpr std::string_view localChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                            ".!#$%&'*+/=?^_`{|}~-";
    constexpr std::string_view domainChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-";
    return local.size() <= 64 && local.find_first_not_of(localChars) == std::string_view::npos
        && domain.find_first_not_of(domainChars) == std::string_view::npos && domain.front() != '.'
        && domain.front() != '-' && domain.back() != '.' && domain.back() != '-'
        && domain.find("..") == std::string_view::npos && local.front() != '.' && local.back() != '.'
        && local.find("..") == std::string_view::npos;
}

struct AccountGate::Admission {
    bool allowed = true;
    int64_t retryAfterSeconds = 0;
};

AccountGate::AccountGate(SyncService &service, AccessOptions options, const ServiceLog &log)
    : m_service(service), m_options(std::move(options)), m_log(log)
{
    m_service.store().setUp([](SqlSession &db) {
        db.createTable("CREATE TABLE IF NOT EXISTS machines ("
                "machinekey BLOB PRIMARY KEY NOT NULL, email TEXT NOT NULL, approvedtime INTEGER NOT NULL)");
        db.createTable("CREATE TABLE IF NOT EXISTS approvals ("
                "tokenhash BLOB PRIMARY KEY NOT NULL, email TEXT NOT NULL, machinekey BLOB NOT NULL, "
                "requestip TEXT NOT NULL, requestedtime INTEGER NOT NULL, expirestime INTEGER NOT NULL)");
        db.run("CREATE INDEX IF NOT EXISTS approvals_expiry ON approvals (expirestime)");
        createRateLimitTable(db);
    });
    if (m_options.approvesByMail())
        m_mailer = std::make_unique<Mailer>(m_options.smtp, m_log);
}

AccountGate::~AccountGate() = default;

AccountGate::Admission AccountGate::admit(SqlSession &db, const std::string &clientIp, int64_t nowMs)
{
    forgetExpired(db, nowMs);
    const double perMinute = double(m_options.requestsPerMinute);
    const BucketDecision decision = takeStoredToken(db, "ip:" + clientIp, BucketRule{perMinute, perMinute / 60.0}, nowMs);
    return Admission{decision.allowed, decision.retryAfterSeconds};
}

void AccountGate::forgetExpired(SqlSession &db, int64_t nowMs)
{
    int64_t due = m_nextForgetMs.load();
    if (nowMs < due || !m_nextForgetMs.compare_exchange_strong(due, nowMs + forgetEveryMs))
        return;
    forgetFullBuckets(db, nowMs);
    db.run("DELETE FROM approvals WHERE expirestime <= ?", {nowMs / 1000});
}

ServiceResponse AccountGate::handleSync(std::string_view authorization, const std::string &clientIp,
                                        std::string_view body)
{
    try {
        const int64_t nowMs = nowMilliseconds();
        const int64_t now = nowMs / 1000;
        const std::optional<std::string> secret = bearerSecret(authorization);
        std::string email;
        std::string badBody;
        try {
            email = requestEmail(body);
        } catch (const std::invalid_argument &error) {
            badBody = error.what();
        }
        // Made for every request alike, so that no path is quicker than another.
        const std::string token = randomHex(secretHexDigits / 2);
        const std::string key = machineKey(email, secret.value_or(std::string()));
        const std::string tokenHash = sha256(token);
        const std::string mailBucket = "mail:" + toHex(sha256(email));

        enum class Outcome { Approved, ApprovalNeeded, LinkMailed, NoSecret, BadBody, TooMany };
        int64_t retryAfter = 0;
        Outcome outcome = Outcome::ApprovalNeeded;
        // Counts, links and machines approved on first use may be lost to a
        // crash of the machine, which costs a user one more request or link;
        // the next sync's own commit makes them durable anyway. Waiting for
        // the disk twice per sync would halve the syncs a second. Requests
        // from one address take their turn on its count.
        m_service.store().transact("ip:" + clientIp, false, [&](SqlSession &db) {
            const Admission admission = admit(db, clientIp, nowMs);
            Outcome result = Outcome::ApprovalNeeded;
            if (!admission.allowed) {
                retryAfter = admission.retryAfterSeconds;
                result = Outcome::TooMany;
            } else if (!secret) {
                result = Outcome::NoSecret;
            } else if (!badBody.empty()) {
                result = Outcome::BadBody;
            } else {
                std::string found;
                const bool known =
                    db.first("SELECT machinekey FROM machines WHERE machinekey = ?", {SqlBlob{key}},
                             [&](const SqlRow &row) { found = row.blob(0); })
                    && found.size() == key.size() && CRYPTO_memcmp(found.data(), key.data(), key.size()) == 0;
                if (known) {
                    result = Outcome::Approved;
                } else if (!m_options.approvesByMail()) {
                    db.run(approveMachineSql, {SqlBlob{key}, email, now});
                    result = Outcome::Approved;
                } else if (takeStoredToken(db, mailBucket, BucketRule{1, 1.0 / double(mailIntervalSeconds)}, nowMs)
                               .allowed
                           && isMailableAddress(email)) {
                    db.run("INSERT INTO approvals (tokenhash, email, machinekey, requestip, requestedtime, "
                           "expirestime) VALUES (?, ?, ?, ?, ?, ?)",
                           {SqlBlob{tokenHash}, email, SqlBlob{key}, clientIp, now, now + linkLifetimeSeconds});
                    result = Outcome::LinkMailed;
                }
            }
            outcome = result;
        });

        switch (outcome) {
        case Outcome::Approved:
            return m_service.handleSync(body);
        case Outcome::TooMany:
            return tooMany(retryAfter);
        case Outcome::NoSecret:
            return ServiceResponse{200, jsonReply(601, noSecretMessage)};
        case Outcome::BadBody:
            return ServiceResponse{400, SyncService::messageBody(badBody)};
        case Outcome::LinkMailed:
            if (!m_mailer->enqueue(approvalMail(email, clientIp, now, now + linkLifetimeSeconds,
                                                m_options.publicUrl + "/approve?token=" + token)))
                m_log.line("mail not sent: the queue is full");
            break;
        case Outcome::ApprovalNeeded:
            break;
        }
        return ServiceResponse{200, jsonReply(601, approvalNeededMessage)};
    } catch (const StoreUnavailable &) {
        return SyncService::unavailable();
    } catch (const std::bad_alloc &) {
        return ServiceResponse{503, SyncService::messageBody(SyncService::busyMessage)};
    } catch (const std::exception &) {
        return ServiceResponse{500, SyncService::messageBody("Internal error")};
    }
}

ServiceResponse AccountGate::handleApproval(std::string_view method, std::string_view target,
                                            const std::string &clientIp, std::string_view body)
{
    const bool confirming = method == "POST";
    if (!confirming && method != "GET" && method != "HEAD") {
        ServiceResponse response = htmlResponse(405, invalidLinkPage());
        response.headers.emplace_back("Allow", "GET, POST");
        return response;
    }
    try {
        const int64_t nowMs = nowMilliseconds();
        const std::size_t question = target.find('?');
        const std::string token = formValue(
            confirming ? body : (question == std::string_view::npos ? std::string_view() : target.substr(question + 1)),
            "token");
        const std::string tokenHash = sha256(token);

        struct Found {
            bool tooMany = false;
            int64_t retryAfter = 0;
            bool valid = false;
            std::string email;
            std::string requestIp;
            int64_t requestedTime = 0;
        };
        Found found;
        m_service.store().transact("ip:" + clientIp, true, [&](SqlSession &db) {
            Found result;
            const Admission admission = admit(db, clientIp, nowMs);
            if (!admission.allowed) {
                result.tooMany = true;
                result.retryAfter = admission.retryAfterSeconds;
            } else if (isLowerHex(token, secretHexDigits)) {
                std::string key;
                int64_t expires = 0;
                db.first("SELECT email, machinekey, requestip, requestedtime, expirestime "
                         "FROM approvals WHERE tokenhash = ?",
                         {SqlBlob{tokenHash}}, [&](const SqlRow &row) {
                             result.email = row.text(0);
                             key = row.blob(1);
                             result.requestIp = row.text(2);
                             result.requestedTime = row.integer(3);
                             expires = row.integer(4);
                         });
                // A link used on another instance at the same moment is
                // used once: only the one that deletes it approves.
                if (expires > nowMs / 1000) {
                    result.valid = !confirming
                        || db.run("DELETE FROM approvals WHERE tokenhash = ?", {SqlBlob{tokenHash}}) > 0;
                    if (confirming && result.valid)
                        db.run(approveMachineSql, {SqlBlob{key}, result.email, nowMs / 1000});
                }
            }
            found = result;
        });
        if (found.tooMany) {
            ServiceResponse response = tooMany(found.retryAfter);
            response.headers.insert(response.headers.end(), pageHeaders().begin(), pageHeaders().end());
            return response;
        }
        if (!found.valid)
            return htmlResponse(404, invalidLinkPage());
        if (!confirming)
            return htmlResponse(200, approvalPage(found.email, found.requestIp, found.requestedTime, token));
        m_log.line("a machine was approved by link");
        return htmlResponse(200, approvedPage());
    } catch (const StoreUnavailable &) {
        return SyncService::unavailable();
    } catch (const std::exception &) {
        return htmlResponse(500, invalidLinkPage());
    }
}
