#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace privateFiles {

namespace {

// Removes the group's and others' bits from what `path` names, if it is of
// the kind `wanted` and owned by this user.
void removeOpenBits(const QByteArray &path, mode_t kind)
{
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0 || (status.st_mode & S_IFMT) != kind || status.st_uid != ::geteuid())
        return;
    const mode_t mode = status.st_mode & 07777;
    if (mode & 077)
        ::chmod(path.constData(), mode & ~mode_t(077));
}

} // namespace

std::error_code createPrivateFolder(const QString &folder)
{
    const std::filesystem::path path = QFile::encodeName(folder).toStdString();
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return {};
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path(), error);
        if (error)
            return error;
    }
    if (::mkdir(path.c_str(), 0700) != 0) {
        if (errno == EEXIST)
            return {};
        return {errno, std::generic_category()};
    }
    // The umask may have taken bits from 0700 too; the owner needs them all.
    ::chmod(path.c_str(), 0700);
    return {};
}

void createPrivateFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    ::fchmod(fd, 0600);
    ::close(fd);
}

void tightenFolder(const QString &folder)
{
    removeOpenBits(QFile::encodeName(folder), S_IFDIR);
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : names)
        removeOpenBits(QFile::encodeName(dir.filePath(name)), S_IFREG);
}

} // namespace privateFiles
