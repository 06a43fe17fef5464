#pragma once

#include "record/recordcontext.h"

#include <QHash>

#include <atomic>

struct sqlite3;

// Checks the journal of a record file (see RecordJournal): the chain of
// hashes entry by entry, every journaled row against its latest entry, every
// row of the journaled tables for an entry, and every sealed hour of samples
// against its count and digest. Reads only; reports the first place, in the
// journal's order, where the file no longer matches.
class JournalVerifier
{
public:
    // `cancel`, when given, stops a running verify() once set (from another
    // thread); it then reports "Broken" with "cancelled".
    explicit JournalVerifier(sqlite3 *db, const std::atomic<bool> *cancel = nullptr)
        : m_db(db), m_cancel(cancel)
    {
    }
    RecordJournalVerdict verify();
    // The same for a file, opened read-only here.
    static RecordJournalVerdict verifyFile(const QString &path,
                                           const std::atomic<bool> *cancel = nullptr);

private:
    struct Finding {
        qint64 seq = -1; // the journal entry where it shows; -1 none yet
        QString where;
        void note(qint64 atSeq, const QString &text)
        {
            if (seq < 0 || atSeq < seq) {
                seq = atSeq;
                where = text;
            }
        }
    };
    bool tableExists(const char *name);
    void checkRows(Finding *finding, RecordJournalVerdict *verdict);
    void checkHours(Finding *finding, RecordJournalVerdict *verdict);
    void checkHourRange(sqlite3 *db, int from, int to, Finding *finding,
                        RecordJournalVerdict *verdict) const;

    bool cancelled() const { return m_cancel && m_cancel->load(); }

    sqlite3 *m_db;
    const std::atomic<bool> *m_cancel;
    struct Entry {
        qint64 seq;
        QByteArray content;
    };
    // Latest entry of every journaled row, by table and rowid.
    QHash<QByteArray, QHash<qint64, Entry>> m_rows;
    struct Hour {
        qint64 seq;
        qint64 hour;
        QByteArray content;
    };
    QVector<Hour> m_hours;
};
