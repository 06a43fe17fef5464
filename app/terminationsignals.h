#pragma once

#include <QObject>

// SIGTERM, SIGINT and SIGHUP (a shutdown, Ctrl+C in a terminal, a closed
// terminal) turned into a signal on the event loop, so that the program ends
// as a user's Close would: a running recording is stopped and every waiting
// row written, instead of the rows still in memory dying with the process.
// The handler only writes the signal's number into a socket pair; everything
// else happens on the main thread.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    // Installs the handlers (once per process); null when they cannot be.
    static TerminationSignals *install(QObject *parent);
    ~TerminationSignals() override;

signals:
    void requested(int signalNumber);

private:
    explicit TerminationSignals(QObject *parent);
    void readSignal();
};
