#pragma once

#include <QString>
#include <exception>

// Diagnostics go to standard output, one line each, flushed at once. Line
// breaks inside the text are written as the escapes \n and \r.
void printLine(const QString &line);

// The text printed after a fixed prefix for any error the store or the sync
// passes on: a DBError's case name, a SQLite error's message with its result
// code, otherwise the exception's own text.
QString errorDescription(const std::exception &error);
