#pragma once

#include "DBManager.h"

#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>
#include <iostream>
#include <sstream>

// A home folder of the test's own, with a store set up in it.
class TestHome {
public:
    TestHome()
    {
        qputenv("HOME", m_dir.path().toLocal8Bit());
        DBManager::shared().setupDatabase();
    }
    QString path() const { return m_dir.path(); }
    // Points HOME where no store can be opened, so every store call fails.
    void breakStore() { qputenv("HOME", (m_dir.path() + QStringLiteral("/missing/folder")).toLocal8Bit()); }

private:
    QTemporaryDir m_dir;
};

// What is printed to standard output while it lives.
class CapturedOutput {
public:
    CapturedOutput() : m_saved(std::cout.rdbuf(m_stream.rdbuf())) {}
    ~CapturedOutput() { std::cout.rdbuf(m_saved); }
    QString text() const { return QString::fromStdString(m_stream.str()); }

private:
    std::ostringstream m_stream;
    std::streambuf *m_saved;
};
