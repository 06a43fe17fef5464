#pragma once

#include <QString>

#include <array>

// What a poller knows about the health of its gateway link: its state, what
// happened to the requests it sent, and how long the answers took. Plain
// counters and a fixed ring of round-trip times, so that keeping them costs
// nothing per poll; anyone holding the poller may read them.
class LinkHealth
{
public:
    enum State { Waiting, Up, Lost };
    // Round trips kept for the median.
    static constexpr int kRoundTripWindow = 64;

    State state = Waiting;
    quint64 pollsSent = 0;    // requests started (polls and refreshes)
    quint64 answers = 0;      // replies that brought registers
    quint64 timeouts = 0;     // no connection or no reply in time
    quint64 errors = 0;       // refused connections, exceptions, bad replies
    quint64 noDataValues = 0; // channel values that came empty or not a number
    QString lastError;
    qint64 lastErrorMs = 0;  // ms since 1970 UTC; 0: never
    qint64 lastAnswerMs = 0; // ms since 1970 UTC; 0: never
    qint64 stateSinceMs = 0; // when the state last changed; 0: never

    void addRoundTrip(qint64 micros);
    // -1 while no answer has come.
    qint64 lastRoundTripMicros() const { return m_count ? m_lastMicros : -1; }
    qint64 medianRoundTripMicros() const;

    static QString stateText(State state);
    // "0.42 ms", "12 ms"; "-" for none.
    static QString roundTripText(qint64 micros);

private:
    std::array<qint64, kRoundTripWindow> m_roundTrips{};
    int m_count = 0;
    int m_next = 0;
    qint64 m_lastMicros = 0;
};
