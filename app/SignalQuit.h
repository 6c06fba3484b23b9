#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT (a log-out, Ctrl+C in a terminal) into an
// ordinary QCoreApplication::quit(), so that the open editor stores its note
// as on every other way of quitting. One instance at a time; while it lives
// it owns the two signals' handlers.
class SignalQuit : public QObject {
    Q_OBJECT

public:
    explicit SignalQuit(QObject *parent = nullptr);
    ~SignalQuit() override;

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};
