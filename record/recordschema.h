#pragma once

#include <QString>

struct sqlite3;

// The layout of a record file and its upgrades.
//
// The table "fennolink" holds the samples and stays exactly as the first
// recorders made it, so that every reader of the plain format reads new
// files too. What the file keeps beside its samples lives in tables of its
// own (prefix "qk_"), added by forward-only steps: each step brings the file
// from one version to the next and is never changed once released; a new
// table or column is a new step at the end of the list. The version is kept
// in `PRAGMA user_version` (0: samples only, as old recorders and other
// programs write them).
//
// Steps run on the writer's connection when a file is opened for writing,
// all in one transaction; a file opened read-only is never changed.
class RecordSchema
{
public:
    // The version the steps bring a file to.
    static int currentVersion();

    // The statement that creates "fennolink", exactly as the first recorders
    // wrote it (tabs included). The one copy in the program.
    static const char *fennolinkStatement();
    // Creates "fennolink" when the file has none.
    static bool ensureSamples(sqlite3 *db, QString *error);

    // The version recorded in the file; -1 when it cannot be read.
    static int version(sqlite3 *db);
    // Whether the file has a table of this name.
    static bool hasTable(sqlite3 *db, const char *name);

    // Brings the file to currentVersion(): the missing steps run in order in
    // one transaction (nothing changes when one fails). A file of a newer
    // version is left alone (its tables are a superset of ours). False with
    // *error set on failure.
    static bool upgrade(sqlite3 *db, QString *error);
};
