// Who reaches an account, tried against the real program as an attacker
// would: a real SMTP relay on loopback receives the approval mails, and the
// test follows their links as a browser and a mail scanner would.

#include "AccountGate.h"
#include "ApprovalPages.h"
#include "HexText.h"
#include "RateLimits.h"
#include "ServerHarness.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

using nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

namespace {

const std::string publicUrl = "https://notes.example.org/tovik";
const std::string relayLogin = "tovik:relay pass:word";

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A throw-away certificate for the relay, and its key.
void makeCertificate(const std::filesystem::path &folder)
{
    const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                             "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '"
        + (folder / "key.pem").string() + "' -out '" + (folder / "cert.pem").string() + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0)
        throw std::runtime_error("openssl could not make a certificate");
}

// aiosmtpd on a loopback port, each message one file in `mailFolder`.
class Relay {
public:
    Relay(const std::filesystem::path &folder, const std::string &mode)
        : m_mail(folder / ("mail-" + mode))
        , m_process(SYSTEM_PYTHON, {SMTP_SINK_PATH, (std::filesystem::create_directory(m_mail), m_mail.string()),
                                    mode, (folder / "cert.pem").string(), (folder / "key.pem").string(),
                                    relayLogin})
    {
    }
    int port() const { return m_process.port(); }
    std::size_t count() const
    {
        std::size_t count = 0;
        for (const auto &entry : std::filesystem::directory_iterator(m_mail))
            count += entry.path().extension() == ".eml";
        return count;
    }
    // Waits up to 15 s for mail number `number` (from 1).
    std::string mail(std::size_t number) const
    {
        char name[16];
        std::snprintf(name, sizeof name, "%04zu.eml", number);
        const auto deadline = Clock::now() + std::chrono::seconds(15);
        while (!std::filesystem::exists(m_mail / name) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return std::filesystem::exists(m_mail / name) ? readFile(m_mail / name) : std::string();
    }

private:
    std::filesystem::path m_mail;
    ServerProcess m_process;
};

std::vector<std::string> serviceArguments(const TemporaryFolder &folder, const std::string &where,
                                          const std::string &smtpUrl, std::vector<std::string> extra = {})
{
    const auto credentials = folder.path() / "relay-login";
    std::ofstream(credentials) << relayLogin << "\n";
    std::filesystem::permissions(credentials, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::vector<std::string> arguments = {"--port", "0", "--db", where,
                                          "--smtp", smtpUrl, "--smtp-ca", (folder.path() / "cert.pem").string(),
                                          "--smtp-credentials", credentials.string(), "--mail-from",
                                          "tovik@example.org", "--public-url", publicUrl + "/"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

struct Reply {
    int http = 0;
    std::string body;
    ordered_json json;
};

class Service {
public:
    Service(const std::string &where, std::vector<std::string> arguments)
        : m_database(where), m_process(TOVIK_SYNC_SERVER_PATH, std::move(arguments))
    {
    }
    int port() const { return m_process.port(); }
    ServerProcess &process() { return m_process; }

    Reply post(const httplib::Headers &headers, const std::string &body, const std::string &path = "/api/sync")
    {
        httplib::Client client("127.0.0.1", m_process.port());
        const auto reply = client.Post(path, headers, body, "application/json");
        if (!reply)
            return {};
        return {reply->status, reply->body, ordered_json::parse(reply->body, nullptr, false)};
    }
    Reply sync(const std::string &secret, const std::string &email, const ordered_json &notes = ordered_json::array())
    {
        return post(machineHeaders(secret), syncBody(email, notes));
    }
    // GET, or POST of the form, on the approval page.
    Reply page(const std::string &token, bool confirm)
    {
        httplib::Client client("127.0.0.1", m_process.port());
        const auto reply = confirm ? client.Post("/approve", "token=" + token, "application/x-www-form-urlencoded")
                                   : client.Get("/approve?token=" + token);
        if (!reply)
            return {};
        lastPageHeaders = reply->headers;
        return {reply->status, reply->body, {}};
    }

    // What the service holds, as text, for before-and-after comparisons.
    std::string stored() const
    {
        std::string text;
        openSqlStore(m_database)->transact({}, true, [&](SqlSession &db) {
            text.clear();
            db.each("SELECT email FROM accounts ORDER BY email", {},
                    [&](const SqlRow &row) { text += "account " + row.text(0) + "\n"; });
            db.each("SELECT email, noteid, content, isdeleted, lastmodifiedtime FROM notes ORDER BY email, noteid", {},
                    [&](const SqlRow &row) {
                        text += row.text(0) + " " + row.text(1) + " " + row.text(2) + " "
                            + std::to_string(row.integer(3)) + " " + std::to_string(row.integer(4)) + " \n";
                    });
            db.each("SELECT email, machinekey FROM machines ORDER BY 1, 2", {}, [&](const SqlRow &row) {
                text += "machine " + row.text(0) + " " + toHex(row.blob(1)) + "\n";
            });
        });
        return text;
    }
    static int64_t rowsOf(const std::string &where, const std::string &table)
    {
        int64_t rows = 0;
        openSqlStore(where)->transact({}, true, [&](SqlSession &db) {
            db.first("SELECT COUNT(*) FROM " + table, {}, [&](const SqlRow &row) { rows = row.integer(0); });
        });
        return rows;
    }
    // Moves the service's records of links and mail counts `seconds` into the past.
    void age(const std::string &sql)
    {
        openSqlStore(m_database)->transact({}, true, [&](SqlSession &db) { db.run(sql); });
    }

    httplib::Headers lastPageHeaders;

private:
    std::string m_database;
    ServerProcess m_process;
};

std::string tokenIn(const std::string &mail)
{
    std::smatch match;
    const std::regex link(std::regex_replace(publicUrl, std::regex(R"([.])"), R"(\.)")
                          + R"(/approve\?token=([0-9a-f]{64})\r\n)");
    return std::regex_search(mail, match, link) ? match[1].str() : std::string();
}

void expectRefused(const Reply &reply, const char *message = AccountGate::approvalNeededMessage)
{
    EXPECT_EQ(reply.http, 200) << reply.body;
    EXPECT_EQ(reply.body, ordered_json({{"status", 601}, {"msg", message}}).dump());
}

class AccountGateTest : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override { makeCertificate(folder.path()); }

    // A machine approved for `email` by the whole road: request, mail, page, button.
    void approve(Service &service, Relay &relay, const std::string &secret, const std::string &email,
                 std::size_t mailNumber)
    {
        expectRefused(service.sync(secret, email));
        const std::string token = tokenIn(relay.mail(mailNumber));
        ASSERT_FALSE(token.empty()) << relay.mail(mailNumber);
        ASSERT_EQ(service.page(token, false).http, 200);
        ASSERT_EQ(service.page(token, true).http, 200);
    }

    // A relay of `mode` and a service that mails through it by `scheme`.
    void start(const std::string &mode, const std::string &scheme, std::vector<std::string> extra = {})
    {
        m_service.reset();
        m_relay = std::make_unique<Relay>(folder.path(), mode);
        ASSERT_GT(m_relay->port(), 0);
        m_service = std::make_unique<Service>(
            where, serviceArguments(folder, where, scheme + "://127.0.0.1:" + std::to_string(m_relay->port()), extra));
        ASSERT_GT(m_service->port(), 0) << m_service->process().firstLine();
    }

    TemporaryFolder folder;
    const std::string where = newStoreAddress(GetParam(), folder);
    std::unique_ptr<Relay> m_relay;
    std::unique_ptr<Service> m_service;
};
INSTANTIATE_FOR_BOTH_STORES(AccountGateTest);

// Approval by mail over STARTTLS with a login, followed as its owner would,
// and every way a link can be misused.
TEST_P(AccountGateTest, TheMailedLinkApprovesOnItsButtonOnlyAndOnlyOnce)
{
    ASSERT_NO_FATAL_FAILURE(start("starttls", "smtp"));
    Relay &relay = *m_relay;
    Service &service = *m_service;

    const std::string laptop = newMachineSecret();
    const std::string before = service.stored();
    expectRefused(service.sync(laptop, "Owner@Example.org", ordered_json::array({noteObject("n1", "hello", 10)})));
    EXPECT_EQ(service.stored(), before) << "nothing stored before approval";

    const std::string mail = relay.mail(1);
    EXPECT_NE(mail.find("X-Envelope-To: owner@example.org\r\n"), std::string::npos) << mail;
    EXPECT_NE(mail.find("Subject: Approve this machine for TovikNote\r\n"), std::string::npos);
    EXPECT_NE(mail.find("this machine"), std::string::npos);
    EXPECT_NE(mail.find("from the IP address 127.0.0.1 at "), std::string::npos);
    const std::string token = tokenIn(mail);
    ASSERT_EQ(token.size(), 64u) << mail;

    // A mail scanner fetches the link: the page shows what asked, and approves nothing.
    for (int fetch = 0; fetch < 2; ++fetch) {
        const Reply page = service.page(token, false);
        EXPECT_EQ(page.http, 200);
        EXPECT_NE(page.body.find("<strong>owner@example.org</strong>"), std::string::npos) << page.body;
        EXPECT_NE(page.body.find("<strong>127.0.0.1</strong>"), std::string::npos);
        EXPECT_NE(page.body.find("<form method=\"post\" action=\"approve\"><input type=\"hidden\" name=\"token\" "
                                 "value=\"" + token + "\">"),
                  std::string::npos);
        EXPECT_EQ(page.body.find("<script"), std::string::npos);
        EXPECT_EQ(page.body.find("http"), std::string::npos) << "the page loads nothing from elsewhere";
    }
    EXPECT_NE(service.lastPageHeaders.find("Content-Security-Policy"), service.lastPageHeaders.end());
    EXPECT_EQ(service.lastPageHeaders.find("Content-Security-Policy")->second.rfind("default-src 'none'", 0), 0u);
    EXPECT_EQ(service.lastPageHeaders.find("Referrer-Policy")->second, "no-referrer");
    expectRefused(service.sync(laptop, "owner@example.org"));
    EXPECT_EQ(service.stored(), before) << "a GET approved something";

    // The button.
    const Reply approved = service.page(token, true);
    EXPECT_EQ(approved.http, 200);
    EXPECT_NE(approved.body.find("This machine is approved"), std::string::npos);
    const Reply first = service.sync(laptop, "owner@example.org", ordered_json::array({noteObject("n1", "hello", 10)}));
    EXPECT_EQ(first.json.value("status", 0), 602) << first.body;
    EXPECT_NE(service.stored().find("owner@example.org n1 hello 0 10"), std::string::npos);

    // The same link again, by either method, approves nothing more.
    EXPECT_EQ(service.page(token, true).http, 404);
    EXPECT_EQ(service.page(token, false).http, 404);

    // A second machine: one mail per address per 10 minutes, so its first
    // request within them is refused without a new link.
    const std::string phone = newMachineSecret();
    expectRefused(service.sync(phone, "owner@example.org"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(relay.count(), 1u);
    // Ten minutes on, it gets its own link; the link outlives its day unused.
    service.age("UPDATE ratelimits SET updatedms = updatedms - 600000 WHERE bucket LIKE 'mail:%'");
    expectRefused(service.sync(phone, "owner@example.org"));
    const std::string expired = tokenIn(relay.mail(2));
    ASSERT_EQ(expired.size(), 64u);
    service.age("UPDATE approvals SET expirestime = expirestime - 86400");
    EXPECT_EQ(service.page(expired, false).http, 404);
    EXPECT_EQ(service.page(expired, true).http, 404);
    expectRefused(service.sync(phone, "owner@example.org"));

    // A fresh link for it works, and it receives the notes.
    service.age("UPDATE ratelimits SET updatedms = updatedms - 600000 WHERE bucket LIKE 'mail:%'");
    approve(service, relay, phone, "owner@example.org", 3);
    const Reply received = service.sync(phone, "owner@example.org");
    ASSERT_EQ(received.json.value("status", 0), 602) << received.body;
    EXPECT_EQ(received.json.at("notes").at(0).at("content"), "hello");

    // Links that never were: wrong, short, upper-case, or no token at all.
    for (const std::string &bad : {std::string(64, '0'), token.substr(1), std::string("ZZ") + token.substr(2),
                                   std::string()}) {
        EXPECT_EQ(service.page(bad, false).http, 404) << bad;
        EXPECT_EQ(service.page(bad, true).http, 404) << bad;
    }
    EXPECT_EQ(relay.count(), 3u);
    service.process().stop(SIGTERM);
    EXPECT_NE(service.process().errorOutput().find(" a machine was approved by link\n"), std::string::npos);
}

// What an attacker who knows the owner's address, and has a machine of his
// own, can try. Each attempt is refused with the one answer, stores nothing
// and returns nothing of the account.
TEST_P(AccountGateTest, AnAttackerWithTheAddressGetsNothingAndChangesNothing)
{
    ASSERT_NO_FATAL_FAILURE(start("starttls", "smtp", {"--requests-per-minute", "100000"}));
    Relay &relay = *m_relay;
    Service &service = *m_service;

    const std::string owner = newMachineSecret();
    approve(service, relay, owner, "victim@x.org", 1);
    ASSERT_EQ(service.sync(owner, "victim@x.org",
                           ordered_json::array({noteObject("n1", "bank PIN 4711", 100), noteObject("n2", "diary", 100)}))
                  .json.value("status", 0),
              602);
    const std::string attacker = newMachineSecret();
    approve(service, relay, attacker, "mallory@x.org", 2);
    const std::string before = service.stored();

    const std::string victimKey = "Bearer " + owner;
    const auto body = [](const std::string &email, ordered_json notes = ordered_json::array()) {
        return syncBody(email, notes);
    };
    const ordered_json overwrite = ordered_json::array({noteObject("n1", "pwned", 9999999999)});
    const ordered_json erase = ordered_json::array({noteObject("n1", "", 9999999999, 1)});
    const ordered_json plant = ordered_json::array({noteObject("evil", "click this link", 9999999999)});
    const auto withAttacker = httplib::Headers{{"Authorization", "Bearer " + attacker}};
    struct Attempt {
        const char *what;
        httplib::Headers headers;
        std::string body;
        const char *message;
    };
    const std::vector<Attempt> attempts = {
        {"read", withAttacker, body("victim@x.org"), AccountGate::approvalNeededMessage},
        {"read, upper case", withAttacker, body("VICTIM@X.ORG"), AccountGate::approvalNeededMessage},
        {"overwrite", withAttacker, body("victim@x.org", overwrite), AccountGate::approvalNeededMessage},
        {"delete", withAttacker, body("victim@x.org", erase), AccountGate::approvalNeededMessage},
        {"plant", withAttacker, body("victim@x.org", plant), AccountGate::approvalNeededMessage},
        {"wrong secret", machineHeaders(newMachineSecret()), body("victim@x.org", overwrite),
         AccountGate::approvalNeededMessage},
        {"own account first, victim's after",
         withAttacker,
         R"({"email":"mallory@x.org","ip":"","notes":[],"email":"victim@x.org"})",
         AccountGate::approvalNeededMessage},
        {"escaped member name", withAttacker,
         R"({"email":"mallory@x.org","ip":"","notes":[],"\u0065mail":"victim@x.org"})",
         AccountGate::approvalNeededMessage},
        {"missing header", {}, body("victim@x.org", plant), AccountGate::noSecretMessage},
        {"empty bearer", {{"Authorization", "Bearer "}}, body("victim@x.org"), AccountGate::noSecretMessage},
        {"another scheme", {{"Authorization", "Basic " + owner}}, body("victim@x.org"), AccountGate::noSecretMessage},
        {"short secret", {{"Authorization", victimKey.substr(0, victimKey.size() - 1)}}, body("victim@x.org"),
         AccountGate::noSecretMessage},
        {"upper-case secret", {{"Authorization", "Bearer " + std::string(64, 'A')}}, body("victim@x.org"),
         AccountGate::noSecretMessage},
        {"secret with more after it", {{"Authorization", victimKey + "0"}}, body("victim@x.org"),
         AccountGate::noSecretMessage},
    };
    for (const Attempt &attempt : attempts) {
        SCOPED_TRACE(attempt.what);
        const Reply reply = service.post(attempt.headers, attempt.body);
        expectRefused(reply, attempt.message);
        EXPECT_EQ(reply.body.find("bank PIN"), std::string::npos);
        EXPECT_EQ(service.stored(), before);
    }
    // The owner's machine still sees its notes as they were.
    const Reply own = service.sync(owner, "victim@x.org");
    ASSERT_EQ(own.json.value("status", 0), 602) << own.body;
    EXPECT_EQ(own.json.at("notes").size(), 2u);
    EXPECT_EQ(own.json.at("notes").at(0).at("content"), "bank PIN 4711");
}

// An address with an account and one without answer alike: the same bytes,
// nothing stored for either, and no telling them apart by time.
TEST_P(AccountGateTest, AKnownAddressAnswersAsAnUnknownOne)
{
    ASSERT_NO_FATAL_FAILURE(start("starttls", "smtp", {"--requests-per-minute", "100000"}));
    Relay &relay = *m_relay;
    Service &service = *m_service;

    // An account with enough notes that any work done on them would show.
    const std::string owner = newMachineSecret();
    approve(service, relay, owner, "known@x.org", 1);
    ordered_json notes = ordered_json::array();
    for (int i = 0; i < 5000; ++i)
        notes.push_back(noteObject("n" + std::to_string(i), std::string(200, 'a' + i % 26), 100));
    ASSERT_EQ(service.sync(owner, "known@x.org", notes).json.value("status", 0), 602);
    const std::string before = service.stored();

    // Both may be mailed now.
    service.age("UPDATE ratelimits SET updatedms = updatedms - 600000 WHERE bucket LIKE 'mail:%'");
    const std::string probe = newMachineSecret();
    const Reply known = service.sync(probe, "known@x.org");
    const Reply unknown = service.sync(probe, "nobody@x.org");
    EXPECT_EQ(known.http, unknown.http);
    EXPECT_EQ(known.body, unknown.body);
    expectRefused(known);
    EXPECT_FALSE(relay.mail(3).empty()) << "both addresses are mailed";
    const std::string after = service.stored();
    EXPECT_EQ(after, before) << "no account, machine or note for either";

    // Interleaved, so that any drift of the machine hits both alike.
    std::vector<double> knownMs;
    std::vector<double> unknownMs;
    httplib::Client client("127.0.0.1", service.port());
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true); // else delayed acknowledgements swamp the figures
    const auto time = [&](const std::string &email) {
        const auto start = Clock::now();
        const auto reply = client.Post("/api/sync", machineHeaders(probe), syncBody(email), "application/json");
        EXPECT_TRUE(reply && reply->body == known.body);
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    for (int i = 0; i < 60; ++i) {
        knownMs.push_back(time("known@x.org"));
        unknownMs.push_back(time("nobody@x.org"));
    }
    const auto median = [](std::vector<double> samples) {
        std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
        return samples[samples.size() / 2];
    };
    // Reading the account's 5000 notes alone takes several times a refusal.
    const double k = median(knownMs);
    const double u = median(unknownMs);
    EXPECT_LT(std::abs(k - u), 0.5 + 0.5 * std::min(k, u)) << "known " << k << " ms, unknown " << u << " ms";
}

// An account kept from before machines were approved: its notes, and no
// machine. They go to the first machine approved by link, and to no other.
TEST_P(AccountGateTest, AnOlderAccountGoesToItsFirstMachineApprovedByLink)
{
    {
        SyncService older(where);
        ASSERT_EQ(older.handleSync(syncBody("old@x.org", ordered_json::array({noteObject("n", "from before", 7)})))
                      .httpStatus,
                  200);
    }
    ASSERT_NO_FATAL_FAILURE(start("starttls", "smtp"));
    const std::string before = m_service->stored();
    expectRefused(m_service->sync(newMachineSecret(), "old@x.org", ordered_json::array({noteObject("n", "x", 8)})));
    EXPECT_EQ(m_service->stored(), before);

    // The first mail's link was for that other machine; ten minutes on, the owner's.
    const std::string owner = newMachineSecret();
    m_service->age("UPDATE ratelimits SET updatedms = updatedms - 600000 WHERE bucket LIKE 'mail:%'");
    approve(*m_service, *m_relay, owner, "old@x.org", 2);
    const Reply reply = m_service->sync(owner, "old@x.org");
    ASSERT_EQ(reply.json.value("status", 0), 602) << reply.body;
    EXPECT_EQ(reply.json.at("notes").at(0).at("content"), "from before");
}

// Requests per client IP address run out, for machines approved or not;
// a refused one stores nothing.
TEST_P(AccountGateTest, OneIpAddressIsLimitedForEveryMachine)
{
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, {"--port", "0", "--db", where, "--requests-per-minute", "3"});
    ASSERT_GT(server.port(), 0) << server.firstLine();
    httplib::Client client("127.0.0.1", server.port());
    const std::string machine = newMachineSecret();
    for (int i = 0; i < 3; ++i) {
        const auto reply = client.Post("/api/sync", machineHeaders(machine), syncBody("u@x.org"), "application/json");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200);
    }
    const auto plant = client.Post("/api/sync", machineHeaders(machine),
                                   syncBody("u@x.org", ordered_json::array({noteObject("n", "c", 5)})),
                                   "application/json");
    ASSERT_TRUE(plant);
    EXPECT_EQ(plant->status, 429);
    EXPECT_TRUE(ordered_json::parse(plant->body).at("msg").is_string());
    // Three a minute: the next one in about 20 s.
    const int retryAfter = std::atoi(plant->get_header_value("Retry-After").c_str());
    EXPECT_GE(retryAfter, 15);
    EXPECT_LE(retryAfter, 20);
    const auto page = client.Get("/approve?token=" + std::string(64, '0'));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 429);

    EXPECT_EQ(Service::rowsOf(where, "notes"), 0);
}

// A loopback service without a relay approves each new machine on first use
// and says so.
TEST_P(AccountGateTest, LoopbackWithoutARelayApprovesOnFirstUse)
{
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, {"--port", "0", "--db", where});
    ASSERT_GT(server.port(), 0) << server.firstLine();
    httplib::Client client("127.0.0.1", server.port());
    for (const char *expected : {"Email configured", "Up to date"}) {
        const auto reply = client.Post("/api/sync", machineHeaders(newMachineSecret()), syncBody("u@x.org"),
                                       "application/json");
        ASSERT_TRUE(reply);
        EXPECT_EQ(ordered_json::parse(reply->body).at("msg"), expected);
    }
    // Still, a request without a secret is no machine.
    const auto anonymous = client.Post("/api/sync", syncBody("u@x.org"), "application/json");
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(ordered_json::parse(anonymous->body).at("msg"), AccountGate::noSecretMessage);
    server.stop(SIGTERM);
    const std::string output = server.restOfOutput();
    EXPECT_NE(output.find("\nno --smtp on a loopback address: every new machine is approved on first use\n"),
              std::string::npos)
        << output;
}

// Implicit TLS works as STARTTLS does; a relay that offers no TLS gets
// nothing, and a relay that never answers holds up no request. Failures are
// one line each, without the address.
TEST_P(AccountGateTest, MailGoesOnlyOverTlsAndNeverHoldsUpARequest)
{
    ASSERT_NO_FATAL_FAILURE(start("smtps", "smtps"));
    approve(*m_service, *m_relay, newMachineSecret(), "tls@x.org", 1);

    ASSERT_NO_FATAL_FAILURE(start("plain", "smtp"));
    expectRefused(m_service->sync(newMachineSecret(), "plain@x.org"));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(m_relay->count(), 0u);
    m_service->process().stop(SIGTERM);
    const std::string output = m_service->process().restOfOutput() + m_service->process().errorOutput();
    EXPECT_NE(output.find(" mail not sent: "), std::string::npos) << output;
    EXPECT_EQ(output.find("plain@x.org"), std::string::npos) << output;
    m_service.reset();
    {
        // Connections are taken by the system and never answered.
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr *>(&address), size), 0);
        ASSERT_EQ(::listen(silent, 16), 0);
        ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr *>(&address), &size), 0);
        Service service(where, serviceArguments(folder, where,
                                                "smtp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)),
                                                {"--requests-per-minute", "100000"}));
        ASSERT_GT(service.port(), 0) << service.process().firstLine();
        const auto start = Clock::now();
        for (int i = 0; i < 5; ++i)
            expectRefused(service.sync(newMachineSecret(), "silent" + std::to_string(i) + "@x.org"));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        ::close(silent);
    }
}

TEST(RateLimits, TokenBucketsRefillUpToTheirCapacity)
{
    const BucketRule threePerMinute{3, 3.0 / 60.0};
    const BucketRule mail{1, 1.0 / 600.0};
    struct Case {
        const char *what;
        BucketRule rule;
        std::optional<BucketState> stored;
        int64_t nowMs;
        bool allowed;
        double levelAfter;
        int64_t retryAfter;
    };
    const Case cases[] = {
        {"never seen: full", threePerMinute, std::nullopt, 1000, true, 2, 0},
        {"empty", threePerMinute, BucketState{0, 1000}, 1000, false, 0, 20},
        {"half refilled", threePerMinute, BucketState{0, 0}, 10000, false, 0.5, 10},
        {"refilled one", threePerMinute, BucketState{0, 0}, 20000, true, 0, 0},
        {"no more than full", threePerMinute, BucketState{0, 0}, 3600000, true, 2, 0},
        {"a clock gone back refills nothing", threePerMinute, BucketState{0.5, 50000}, 0, false, 0.5, 10},
        {"a mail nine minutes on", mail, BucketState{0, 0}, 540000, false, 0.9, 60},
        {"a mail ten minutes on", mail, BucketState{0, 0}, 600000, true, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const BucketDecision decision = takeFromBucket(c.stored, c.rule, c.nowMs);
        EXPECT_EQ(decision.allowed, c.allowed);
        EXPECT_NEAR(decision.after.level, c.levelAfter, 1e-9);
        EXPECT_EQ(decision.retryAfterSeconds, c.retryAfter);
        EXPECT_GE(decision.fullMs, c.nowMs);
    }
}

TEST(ApprovalPages, EscapeEverythingFromOutside)
{
    const std::string hostile = "<script>alert('x')</script>\"&";
    const std::string page = approvalPage(hostile, hostile, 0, hostile);
    EXPECT_EQ(page.find(hostile), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&quot;&amp;"), std::string::npos);
}

TEST(AccountGateParts, ReadsSecretsAndAddressesStrictly)
{
    const std::string hex(64, 'a');
    const std::pair<std::string, bool> headers[] = {
        {"Bearer " + hex, true},  {"bearer " + hex, true},      {"Bearer   " + hex, true}, {"Bearer" + hex, false},
        {"Bearer " + hex + "a", false}, {"Bearer " + hex.substr(1), false}, {"Bearer " + std::string(64, 'g'), false},
        {"Token " + hex, false},  {"", false},
    };
    for (const auto &[header, valid] : headers)
        EXPECT_EQ(bearerSecret(header).has_value(), valid) << header;

    const std::pair<std::string, std::string> bodies[] = {
        {R"({"email":"A@X.org","ip":"","notes":[]})", "a@x.org"},
        {R"({"notes":[{"email":"inner@x.org","content":"\"email\":\"x\""}],"email":"outer@x.org"})", "outer@x.org"},
        {R"({"email":"first@x.org","email":"last@x.org"})", "last@x.org"},
        {R"( { "\u0065mail" : "esc\u0061ped@x.org" } )", "escaped@x.org"},
        {R"({"email":5})", ""},
        {R"({"email":""})", ""},
        {R"(["email","a@x.org"])", ""},
        {R"({"ip":""})", ""},
    };
    for (const auto &[body, email] : bodies) {
        std::string read;
        try {
            read = requestEmail(body);
        } catch (const std::invalid_argument &) {
        }
        EXPECT_EQ(read, email) << body;
    }

    for (const char *address : {"a@x.org", "first.last+tag@sub.example.org"})
        EXPECT_TRUE(isMailableAddress(address)) << address;
    for (const char *address : {"a@x.org\r\nBcc: b@y.org", "a b@x.org", "<a@x.org>", "a@x.org,b@y.org", "@x.org",
                                "a@", "a@@x.org", "a@x..org", ".a@x.org", "a@-x.org"})
        EXPECT_FALSE(isMailableAddress(address)) << address;
}

} // namespace
