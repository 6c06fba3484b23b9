#pragma once

#include <QString>
#include <optional>

// The machine's hardware UUID as the firmware reports it.
class DeviceUUID {
public:
    // The firmware's product UUID as Linux exposes it.
    DeviceUUID();
    explicit DeviceUUID(const QString &sourcePath);

    // The UUID text, or nothing (with a printed line) when it cannot be read.
    std::optional<QString> platformUUID() const;

private:
    QString m_sourcePath;
};
