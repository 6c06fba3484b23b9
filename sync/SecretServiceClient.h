#pragma once

#include <QByteArray>
#include <optional>

// What a keyring item needs of a desktop Secret Service, for that one item.
// Each call gives nothing (or false) when the service did not answer or
// refused, so that the caller can turn to the file.
class SecretServiceClient {
public:
    struct Lookup {
        bool found = false;
        QByteArray value;
    };

    virtual ~SecretServiceClient() = default;
    virtual std::optional<Lookup> lookup() = 0;
    // Adds the item or replaces its value.
    virtual bool store(const QByteArray &value) = 0;

    // The session's Secret Service through libsecret (default collection).
    static SecretServiceClient &libsecret();
};
