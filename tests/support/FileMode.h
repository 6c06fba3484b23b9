#pragma once

#include <QFile>
#include <QString>

#include <sys/stat.h>

// The permission bits of what `path` names, links not followed; all ones
// when nothing is there.
inline mode_t modeOf(const QString &path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return mode_t(-1);
    return status.st_mode & 07777;
}
