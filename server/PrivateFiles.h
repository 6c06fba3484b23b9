#pragma once

#include <string>

// Notes are readable by the service's user only, whatever the umask: files the
// process makes from now on get no group or other bits, and what already
// exists of the database (with its -wal, -shm and -journal) and of the log,
// and the folders holding them when they are the service's own, is tightened
// to 0600 for files and 0700 for folders. A missing folder is made. Throws std::runtime_error when a folder
// cannot be made or a mode cannot be set.
void makeServiceFilesPrivate(const std::string &databasePath, const std::string &logPath);
