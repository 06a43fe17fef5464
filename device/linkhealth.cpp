#include "device/linkhealth.h"

#include <algorithm>

void LinkHealth::addRoundTrip(qint64 micros)
{
    m_lastMicros = micros;
    m_roundTrips[size_t(m_next)] = micros;
    m_next = (m_next + 1) % kRoundTripWindow;
    if (m_count < kRoundTripWindow)
        ++m_count;
}

qint64 LinkHealth::medianRoundTripMicros() const
{
    if (m_count == 0)
        return -1;
    std::array<qint64, kRoundTripWindow> sorted = m_roundTrips;
    const auto end = sorted.begin() + m_count;
    const auto middle = sorted.begin() + m_count / 2;
    std::nth_element(sorted.begin(), middle, end);
    if (m_count % 2)
        return *middle;
    // Even count: the mean of the two middle values.
    const qint64 upper = *middle;
    const qint64 lower = *std::max_element(sorted.begin(), middle);
    return (lower + upper) / 2;
}

QString LinkHealth::stateText(State state)
{
    switch (state) {
    case Waiting: return QStringLiteral("waiting for the first answer");
    case Up: return QStringLiteral("connected");
    case Lost: return QStringLiteral("lost");
    }
    return QString();
}

QString LinkHealth::roundTripText(qint64 micros)
{
    if (micros < 0)
        return QStringLiteral("-");
    if (micros < 10000)
        return QString::number(micros / 1000.0, 'f', 2) + QStringLiteral(" ms");
    return QString::number((micros + 500) / 1000) + QStringLiteral(" ms");
}
