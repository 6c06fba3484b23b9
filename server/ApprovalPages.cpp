#include "ApprovalPages.h"

#include <ctime>
#include <vector>

namespace {

std::string page(const std::string &title, const std::string &content)
{
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<meta name=\"referrer\" content=\"no-referrer\">"
           "<title>"
        + escapeHtml(title)
        + "</title><style>"
          "body{font-family:sans-serif;max-width:34em;margin:3em auto;padding:0 1em;line-height:1.5;color:#222}"
          "button{font-size:1.1em;padding:.5em 1.2em;border-radius:6px;border:1px solid #246;background:#2a6ad0;"
          "color:#fff;cursor:pointer}"
          "</style></head><body><main><h1>"
        + escapeHtml(title) + "</h1>" + content + "</main></body></html>\n";
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string decodeFormText(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0
                   && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::string escapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::string utcTime(int64_t secondsSince1970)
{
    const std::time_t time = std::time_t(secondsSince1970);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    return text;
}

Mail approvalMail(const std::string &email, const std::string &requestIp, int64_t requestTime,
                  int64_t expiryTime, const std::string &link)
{
    Mail mail;
    mail.to = email;
    mail.subject = "Approve this machine for TovikNote";
    mail.text = "A machine asked to sync the TovikNote notes of " + email + ".\n"
        "It asked from the IP address " + requestIp + " at " + utcTime(requestTime) + ".\n"
        "\n"
        "If that was you, open this link and press the button on the page to approve this machine:\n"
        "\n"
        + link + "\n"
        "\n"
        "The link works once, until " + utcTime(expiryTime) + ". Then sync again on that machine.\n"
        "If it was not you, ignore this mail: nothing reaches your notes until the link is used.\n";
    return mail;
}

std::string approvalPage(const std::string &email, const std::string &requestIp, int64_t requestTime,
                         const std::string &token)
{
    return page("Approve this machine?",
                "<p>A machine asked to sync the TovikNote notes of <strong>" + escapeHtml(email)
                    + "</strong>.</p><p>It asked from the IP address <strong>" + escapeHtml(requestIp)
                    + "</strong> at <strong>" + escapeHtml(utcTime(requestTime))
                    + "</strong>.</p><p>Approve it only if that was you: once approved, the machine can read and "
                      "change all these notes.</p>"
                      "<form method=\"post\" action=\"approve\"><input type=\"hidden\" name=\"token\" value=\""
                    + escapeHtml(token)
                    + "\"><button type=\"submit\">Approve this machine</button></form>");
}

std::string approvedPage()
{
    return page("This machine is approved",
                "<p>The machine can sync now. Sync again in TovikNote on that machine.</p>");
}

std::string invalidLinkPage()
{
    return page("This link does not work",
                "<p>The link has been used already, has expired, or was never sent. Sync again in TovikNote on "
                "the machine to get a new one.</p>");
}

const std::vector<std::pair<std::string, std::string>> &pageHeaders()
{
    static const std::vector<std::pair<std::string, std::string>> headers = {
        {"Content-Security-Policy",
         "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; base-uri 'none'; "
         "frame-ancestors 'none'"},
        {"X-Frame-Options", "DENY"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    };
    return headers;
}

std::string formValue(std::string_view form, std::string_view name)
{
    while (!form.empty()) {
        const std::size_t amp = form.find('&');
        const std::string_view pair = form.substr(0, amp);
        form.remove_prefix(amp == std::string_view::npos ? form.size() : amp + 1);
        const std::size_t eq = pair.find('=');
        if (decodeFormText(pair.substr(0, eq)) == name)
            return eq == std::string_view::npos ? std::string() : decodeFormText(pair.substr(eq + 1));
    }
    return {};
}
