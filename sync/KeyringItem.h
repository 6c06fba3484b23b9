#pragma once

#include "SecretServiceClient.h"

#include <QByteArray>
#include <QString>
#include <optional>

// One generic keyring item: the address item of account "toviknotekey", or the
// machine secret beside it. The operations answer with keychain status values
// so that callers can follow the keychain's add-then-update protocol as it
// stands.
//
// The value lives in the desktop's Secret Service (default collection). Where no
// Secret Service answers (no session bus, no keyring daemon, a call that fails)
// or it refuses to store (no unlocked collection), it lives in a file under
// ~/.tovik instead (~/.tovik/keyring for the address), readable by the owner only. A load asks the Secret Service first and
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

    // What tells one item from the other: its account attribute in the
    // Secret Service, its label there, and its fallback file in ~/.tovik.
    struct Name {
        const char *account;
        const char *label;
        const char *fileName;
    };
    static constexpr Name addressItem{account, "TovikNote", "keyring"};
    static constexpr Name machineSecretItem{"toviknotesecret", "TovikNote machine secret", "machine-secret"};

    enum class Backend {
        automatic,     // Secret Service when it answers, else the file
        secretService, // Secret Service only; notAvailable when it does not answer
        file,          // the file only
    };

    explicit KeyringItem(Backend backend = Backend::automatic, const Name &name = addressItem);
    // `secretService` must outlive the item.
    KeyringItem(Backend backend, SecretServiceClient &secretService, const Name &name = addressItem);

    // Creates the item; duplicateItem when it exists already.
    int add(const QByteArray &value);
    // Replaces the value of the existing item; itemNotFound when there is none.
    int update(const QByteArray &value);
    // Reads the value into *value; itemNotFound when there is no item.
    int copyMatching(QByteArray *value);

    // "~/.tovik/keyring" (for the address item) in the user's home folder.
    static QString fallbackPath(const Name &name = addressItem);

private:
    std::optional<SecretServiceClient::Lookup> lookUp() const;
    bool holdsItem(const std::optional<SecretServiceClient::Lookup> &existing) const;
    int write(const QByteArray &value, const std::optional<SecretServiceClient::Lookup> &existing) const;

    Backend m_backend;
    SecretServiceClient *m_secretService;
    Name m_name;
};
