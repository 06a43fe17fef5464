#pragma once

#include <QString>

class RecordReader;

// Whether the rows of a record database are in time order, kept between runs.
//
// A day is found by a binary search over id, which is only exact when
// pointDate never decreases with id (the recorder's clock never went back).
// Checking that means reading every row once; the answer is kept in a small
// file of this program's cache folder together with the last id checked, so
// later runs read only the rows added since. Deleting the file is always safe.
class RecordOrderCache
{
public:
    // Tells `reader` whether its rows are in time order, checking only what
    // the cache does not already know. False (with `error`) when the
    // database could not be read.
    static bool apply(RecordReader &reader, QString *error = nullptr);
    // The cache file for a database path.
    static QString cacheFile(const QString &databasePath);
};
