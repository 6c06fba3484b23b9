#pragma once

#include "Mailer.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Who may reach an account, and how a new machine is approved.
struct AccessOptions {
    SmtpSettings smtp;           // smtp.url empty: no mail
    std::string credentialsFile; // read into smtp.user and smtp.password
    std::string publicUrl;       // base address of the approval links, without a final "/"
    bool open = false;           // approve every machine on first use
    bool loopbackOnly = true;    // the service listens on a loopback address only
    unsigned requestsPerMinute = defaultRequestsPerMinute;

    static constexpr unsigned defaultRequestsPerMinute = 60;

    // Machines are approved by a mailed link; otherwise on first use.
    bool approvesByMail() const { return !smtp.url.empty(); }
};

// Takes the option at `arguments[at]` when it is one of these; gives how many
// arguments it used (0: not one of these). A bad value sets `error`.
std::size_t takeAccessOption(const std::vector<std::string> &arguments, std::size_t at, AccessOptions &options,
                             std::string &error);

// Checks the options together once all are read, for a service listening on
// `host`, and reads the credentials file. Gives the error line, if any.
std::optional<std::string> completeAccessOptions(AccessOptions &options, const std::string &host,
                                                  bool behindProxy);

bool isLoopbackHost(const std::string &host);

// The lines of --help for these options.
std::string accessUsage();

// The line the service logs at start about how it approves machines.
std::string approvalModeLine(const AccessOptions &options);
