#include "record/recordcontext.h"

#include "record/recordreader.h"

#include <QStringList>

QString RecordJournalVerdict::text() const
{
    switch (state) {
    case State::NoJournal:
        return QStringLiteral("no journal (recorded before the journal was kept)");
    case State::Intact: return QStringLiteral("record intact");
    case State::Altered: return QStringLiteral("record altered: %1").arg(where);
    case State::Broken: return QStringLiteral("journal damaged: %1").arg(where);
    }
    return QString();
}

RecordContext::RecordContext(RecordReader &reader) : m_reader(reader) {}

// The context tables come with the record file's schema version 1; until the
// writer keeps them every file reads as an old one.
int RecordContext::schemaVersion()
{
    return 0;
}

bool RecordContext::hasSettings()
{
    return false;
}

bool RecordContext::hasTimeSteps()
{
    return false;
}

QVector<RecordTimeStep> RecordContext::timeSteps(qint64, qint64)
{
    return {};
}

QVector<RecordDeviceSettings> RecordContext::settingsAt(qint64)
{
    return {};
}

QVector<RecordDeviceSettings> RecordContext::settingsBetween(qint64, qint64)
{
    return {};
}

// alarmEvents() and verifyJournal() are in recordcontextalarms.cpp.
