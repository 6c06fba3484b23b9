#pragma once

#include <QString>
#include <system_error>

// The app's files hold notes and the user's address: they are for their owner
// alone, whatever the umask of the session that starts the app.
namespace privateFiles {

// Creates `folder` with its missing parents, the folder itself owner-only
// (0700). Something already at the path is left as it is.
std::error_code createPrivateFolder(const QString &folder);

// Creates an empty owner-only (0600) file at `path` when nothing is there yet.
// SQLite gives a database's -journal, -wal and -shm the mode of the database
// file, so creating it this way keeps those private too. Nothing happens when
// the file exists or its folder does not.
void createPrivateFile(const QString &path);

// Takes the group's and others' permissions away from `folder` and from every
// file directly in it, for files an earlier version or another umask left
// open. Only removes bits: a read-only file stays read-only. Symbolic links
// are not followed.
void tightenFolder(const QString &folder);

} // namespace privateFiles
