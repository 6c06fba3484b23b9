#include "Console.h"

#include "DBError.h"

#include <SQLiteCpp/Exception.h>

#include <iostream>
#include <mutex>

void printLine(const QString &line)
{
    // Lines come from the main thread and the sync's worker; keep each whole.
    static std::mutex outputMutex;
    // An error text may quote what it rejected, line breaks and all; written
    // as escapes they keep the event on its one line.
    QString single = line;
    single.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    single.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    const std::string text = single.toStdString() + '\n';
    std::lock_guard lock(outputMutex);
    std::cout << text << std::flush;
}

QString errorDescription(const std::exception &error)
{
    if (const auto *sqlite = dynamic_cast<const SQLite::Exception *>(&error)) {
        QString text = QString::fromUtf8(sqlite->what())
                + QStringLiteral(" (code: %1").arg(sqlite->getErrorCode());
        const int extended = sqlite->getExtendedErrorCode();
        if (extended >= 0 && extended != sqlite->getErrorCode())
            text += QStringLiteral(", extended code: %1").arg(extended);
        return text + QLatin1Char(')');
    }
    // A DBError's what() is already its case name.
    return QString::fromUtf8(error.what());
}
