#pragma once

#include <QString>

// The user's home folder: $HOME, or the account's own folder from the password
// database when $HOME is unset or empty (a service manager or a stripped
// environment), never the file-system root.
QString homeFolder();
