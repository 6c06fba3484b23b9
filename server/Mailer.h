#pragma once

#include "ServiceLog.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// How mail leaves the service: an SMTP relay over TLS.
struct SmtpSettings {
    std::string url;      // smtp://host[:port] (STARTTLS required) or smtps://host[:port]
    std::string user;     // empty: no login
    std::string password;
    std::string caFile;   // certificates to trust for the relay; empty: the system's
    std::string from;     // the sender address
};

struct Mail {
    std::string to;
    std::string subject;
    std::string text; // plain text, lines apart by "\n"
};

// The whole message as it goes over SMTP: headers, then the text with CRLF
// line ends.
std::string mailMessage(const std::string &from, const Mail &mail, std::time_t now);

// Sends one mail; the empty text on success, else what went wrong (without
// the address or the text of the mail).
std::string sendMail(const SmtpSettings &settings, const Mail &mail);

// Sends mail on a thread of its own, so that a slow or absent relay never
// holds up a request. Failures are logged, one line each, and dropped.
class Mailer {
public:
    Mailer(SmtpSettings settings, const ServiceLog &log);
    ~Mailer();
    Mailer(const Mailer &) = delete;
    Mailer &operator=(const Mailer &) = delete;

    // Queues `mail`; false, dropping it, when the queue is full.
    bool enqueue(Mail mail);

    static constexpr std::size_t maxQueued = 1000;

private:
    void work();

    const SmtpSettings m_settings;
    const ServiceLog &m_log;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Mail> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};
