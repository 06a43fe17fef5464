#pragma once

#include "record/sha256.h"

#include <QByteArray>
#include <QtGlobal>

#include <vector>

// The SHA-256 of a run of sample rows as the hour seals of the journal take
// it: every column with its SQLite type (1 integer, 2 real, 3 text, 5 null),
// then, unless null, 8 bytes of value (the integer, the real's bits, or the
// text's length) and the text's bytes. Rows are packed into a buffer and
// hashed a buffer at a time. The same bytes come from rows read back from the
// file (the check) and from rows as the writer puts them in (the seal), so
// the writer never reads an hour back to seal it.
class RowDigest
{
public:
    RowDigest();

    void addInteger(qint64 value) { put(1, value, nullptr, 0); }
    // A real as a "float" column gives it back: NaN is stored as null, and
    // -0.0 as the integer 0, which reads back as 0.0.
    void addReal(double value);
    // A real as read from the file, bit for bit.
    void addStoredReal(double value);
    // A text (type 3) or a blob (type 4).
    void addBytes(char type, const char *data, int size) { put(type, size, data, size); }
    void addNull();
    void endRow() { ++m_rows; }

    qint64 rows() const { return m_rows; }
    // The digest in hex; the object is spent afterwards.
    QByteArray hexResult();

private:
    void put(char type, qint64 value, const char *data, int size);

    Sha256 m_hash;
    std::vector<char> m_buffer;
    int m_used = 0;
    qint64 m_rows = 0;
};
