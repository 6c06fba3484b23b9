#include "DeviceUUID.h"

#include "Console.h"
#include "Utf8.h"

#include <QFile>

DeviceUUID::DeviceUUID() : DeviceUUID(QStringLiteral("/sys/class/dmi/id/product_uuid")) {}

DeviceUUID::DeviceUUID(const QString &sourcePath) : m_sourcePath(sourcePath) {}

std::optional<QString> DeviceUUID::platformUUID() const
{
    QFile file(m_sourcePath);
    if (file.open(QIODevice::ReadOnly)) {
        QByteArray bytes = file.readAll();
        if (bytes.endsWith('\n'))
            bytes.chop(1);
        if (!bytes.isEmpty() && file.error() == QFileDevice::NoError) {
            if (auto text = strictUtf8(bytes))
                return text;
        }
    }
    printLine(QStringLiteral("无法获取 macOS UUID"));
    return std::nullopt;
}
