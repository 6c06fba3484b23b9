#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>
#include <sstream>
#include <streambuf>

// A loopback port on which nothing listens (bound once by the OS, then freed).
int closedLoopbackPort();

// A fresh temporary folder set as $HOME for as long as the object lives.
class TemporaryHome {
public:
    TemporaryHome();
    ~TemporaryHome();
    QString path() const { return m_dir.path(); }
    // Makes it the current $HOME again (for tests that switch between homes).
    void enter() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
};

// Collects what is written to std::cout while it lives.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    QStringList lines() const;

private:
    std::ostringstream m_buffer;
    std::streambuf *m_previous;
};

// Runs the event loop until the task is done and gives its result. Unlike
// QCoro::waitFor it needs no default-constructible result.
template<typename T>
T waitForTask(QCoro::Task<T> task)
{
    std::optional<T> result;
    QEventLoop loop;
    auto await = [&]() -> QCoro::Task<void> {
        result.emplace(co_await task);
        loop.quit();
    };
    QCoro::Task<void> waiting = await();
    if (!result)
        loop.exec();
    return std::move(*result);
}
