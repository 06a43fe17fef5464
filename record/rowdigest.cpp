#include "record/rowdigest.h"

#include <cmath>
#include <cstring>

namespace
{
constexpr int kBufferSize = 1 << 16;
}

RowDigest::RowDigest() : m_buffer(kBufferSize) {}

void RowDigest::addReal(double value)
{
    if (std::isnan(value)) {
        addNull();
        return;
    }
    addStoredReal(value == 0.0 ? 0.0 : value);
}

void RowDigest::addStoredReal(double value)
{
    qint64 bits;
    std::memcpy(&bits, &value, 8);
    put(2, bits, nullptr, 0);
}

void RowDigest::addNull()
{
    if (m_used + 1 > kBufferSize) {
        m_hash.addData(m_buffer.data(), size_t(m_used));
        m_used = 0;
    }
    m_buffer[size_t(m_used++)] = 5;
}

void RowDigest::put(char type, qint64 value, const char *data, int size)
{
    if (m_used + 9 + size > kBufferSize) {
        m_hash.addData(m_buffer.data(), size_t(m_used));
        m_used = 0;
    }
    char *out = m_buffer.data() + m_used;
    out[0] = type;
    std::memcpy(out + 1, &value, 8);
    m_used += 9;
    if (size > kBufferSize - 9) {
        m_hash.addData(m_buffer.data(), size_t(m_used));
        m_used = 0;
        m_hash.addData(data, size_t(size));
    } else if (size > 0) {
        std::memcpy(m_buffer.data() + m_used, data, size_t(size));
        m_used += size;
    }
}

QByteArray RowDigest::hexResult()
{
    m_hash.addData(m_buffer.data(), size_t(m_used));
    m_used = 0;
    return m_hash.result().toHex();
}
