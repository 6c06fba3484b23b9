#include "PrivateFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace {

// Takes the group and other bits away.
void tighten(const std::filesystem::path &path, const struct stat &state)
{
    if ((state.st_mode & 077) == 0)
        return;
    if (::chmod(path.c_str(), state.st_mode & 07700) != 0)
        throw std::runtime_error("cannot make \"" + path.string() + "\" private: " + std::strerror(errno));
}

void tightenFile(const std::filesystem::path &path)
{
    struct stat state {};
    if (::lstat(path.c_str(), &state) == 0 && S_ISREG(state.st_mode))
        tighten(path, state); // a missing one is made later under the process's mask
}

// Only a folder of the service's own: a shared one such as /tmp (sticky) or
// one of root's, such as /var/lib, serves others too and keeps its mode.
void tightenFolder(const std::filesystem::path &path)
{
    struct stat state {};
    if (::stat(path.c_str(), &state) == 0 && S_ISDIR(state.st_mode) && state.st_uid == ::geteuid()
        && state.st_uid != 0 && !(state.st_mode & S_ISVTX))
        tighten(path, state);
}

void makeFolder(const std::filesystem::path &folder)
{
    if (folder.empty())
        return;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw std::runtime_error("cannot make the folder \"" + folder.string() + "\": " + error.message());
    tightenFolder(folder);
}

} // namespace

void makeServiceFilesPrivate(const std::string &databasePath, const std::string &logPath)
{
    ::umask(077);
    if (!databasePath.empty()) {
        const std::filesystem::path database(databasePath);
        makeFolder(database.parent_path());
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            tightenFile(databasePath + suffix);
    }
    if (!logPath.empty()) {
        makeFolder(std::filesystem::path(logPath).parent_path());
        tightenFile(logPath);
    }
}
