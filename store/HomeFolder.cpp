#include "HomeFolder.h"

#include <QFile>

#include <pwd.h>
#include <unistd.h>
#include <vector>

QString homeFolder()
{
    const QByteArray fromEnvironment = qgetenv("HOME");
    if (!fromEnvironment.isEmpty())
        return QFile::decodeName(fromEnvironment);

    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : size_t(16384));
    passwd entry {};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir
        && *found->pw_dir)
        return QFile::decodeName(found->pw_dir);
    // No account entry either: a relative path keeps the file out of "/".
    return QStringLiteral(".");
}
