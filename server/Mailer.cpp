#include "Mailer.h"

#include "HexText.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

namespace {

// A relay that accepts the connection and then says nothing must not keep
// the queue waiting for long.
constexpr long connectTimeoutSeconds = 20;
constexpr long sendTimeoutSeconds = 60;

std::string rfc5322Date(std::time_t now)
{
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &utc);
    return text;
}

std::string domainOf(const std::string &address)
{
    const std::size_t at = address.rfind('@');
    return at == std::string::npos ? std::string("localhost") : address.substr(at + 1);
}

struct Upload {
    std::string bytes;
    std::size_t sent = 0;
};

std::size_t readUpload(char *buffer, std::size_t size, std::size_t count, void *data)
{
    auto *upload = static_cast<Upload *>(data);
    const std::size_t step = std::min(size * count, upload->bytes.size() - upload->sent);
    std::memcpy(buffer, upload->bytes.data() + upload->sent, step);
    upload->sent += step;
    return step;
}

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

std::string mailMessage(const std::string &from, const Mail &mail, std::time_t now)
{
    std::string message = "Date: " + rfc5322Date(now) + "\r\n" + "From: " + from + "\r\n" + "To: " + mail.to + "\r\n"
        + "Subject: " + mail.subject + "\r\n" + "Message-ID: <" + randomHex(16) + "@" + domainOf(from) + ">\r\n"
        + "MIME-Version: 1.0\r\n" + "Content-Type: text/plain; charset=utf-8\r\n"
        + "Content-Transfer-Encoding: 8bit\r\n\r\n";
    for (char c : mail.text) {
        if (c == '\n')
            message += "\r\n";
        else
            message += c;
    }
    if (message.size() < 2 || message.compare(message.size() - 2, 2, "\r\n") != 0)
        message += "\r\n";
    return message;
}

std::string sendMail(const SmtpSettings &settings, const Mail &mail)
{
    initCurlOnce();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return "cannot start a mail transfer";
    Upload upload{mailMessage(settings.from, mail, std::time(nullptr))};
    curl_slist *recipients = curl_slist_append(nullptr, ("<" + mail.to + ">").c_str());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> recipientsOwner(recipients, &curl_slist_free_all);

    CURL *handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, settings.url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // A plain smtp:// relay must switch to TLS before anything is sent.
    curl_easy_setopt(handle, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    if (!settings.caFile.empty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, settings.caFile.c_str());
    if (!settings.user.empty()) {
        curl_easy_setopt(handle, CURLOPT_USERNAME, settings.user.c_str());
        curl_easy_setopt(handle, CURLOPT_PASSWORD, settings.password.c_str());
    }
    curl_easy_setopt(handle, CURLOPT_MAIL_FROM, ("<" + settings.from + ">").c_str());
    curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(handle, CURLOPT_READFUNCTION, readUpload);
    curl_easy_setopt(handle, CURLOPT_READDATA, &upload);
    curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, sendTimeoutSeconds);
    const CURLcode result = curl_easy_perform(handle);
    if (result == CURLE_OK)
        return {};
    // Only the code's own text: the relay's answers may quote the address.
    return curl_easy_strerror(result);
}

Mailer::Mailer(SmtpSettings settings, const ServiceLog &log)
    : m_settings(std::move(settings)), m_log(log), m_thread([this] { work(); })
{
}

Mailer::~Mailer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool Mailer::enqueue(Mail mail)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= maxQueued)
            return false;
        m_queue.push_back(std::move(mail));
    }
    m_wake.notify_one();
    return true;
}

void Mailer::work()
{
    for (;;) {
        Mail mail;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            mail = std::move(m_queue.front());
            m_queue.pop_front();
        }
        std::string failure;
        try {
            failure = sendMail(m_settings, mail);
        } catch (const std::exception &error) {
            failure = error.what();
        }
        if (!failure.empty())
            m_log.line("mail not sent: " + failure);
    }
}
