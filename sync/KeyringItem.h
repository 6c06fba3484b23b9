#pragma once

#include "SecretServiceClient.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The one generic keyring item of account "toviknotekey". The operations answer
// with keychain status values so that callers can follow the keychain's
// add-then-update protocol as it stands.
//
// The value lives in the desktop's Secret Service (default collection). Where no
// Secret Service answers (no session bus, no keyring daemon, a call that fails)
// or it refuses to store (no unlocked collection), it lives in ~/.tovik/keyring
// instead, readable by the owner only. A load asks the Secret Service first and
// then the file. A save the service takes removes the file copy, so a file copy
// beside the service's item is the later one, and a load gives it.
class KeyringItem {
public:
    static constexpr int success = 0;
    static constexpr int ioError = -36;
    static constexpr int notAvailable = -25291;
    static constexpr int duplicateItem = -25299;
    static constexpr int itemNotFound = -25300;

    static constexpr const char *account = "toviknotekey";

    enum class Backend {
        automatic,     // Secret Service when it answers, else the file
        secretService, // Secret Service only; notAvailable when it does not answer
        file,          // the file only
    };

    explicit KeyringItem(Backend backend = Backend::automatic);
    // `secretService` must outlive the item.
    KeyringItem(Backend backend, SecretServiceClient &secretService);

    // Creates the item; duplicateItem when it exists already.
    int add(const QByteArray &value);
    // Replaces the value of the existing item; itemNotFound when there is none.
    int update(const QByteArray &value);
    // Reads the value into *value; itemNotFound when there is no item.
    int copyMatching(QByteArray *value);

    // "~/.tovik/keyring" in the user's home folder.
    static QString fallbackPath();

private:
    std::optional<SecretServiceClient::Lookup> lookUp() const;
    bool holdsItem(const std::optional<SecretServiceClient::Lookup> &existing) const;
    int write(const QByteArray &value, const std::optional<SecretServiceClient::Lookup> &existing) const;

    Backend m_backend;
    SecretServiceClient *m_secretService;
};
