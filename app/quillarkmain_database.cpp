// The record database as the main window looks after it: its size limit,
// rows dropped or left unwritten, a file deleted or replaced under it, and
// the recording period found off the window's thread.
#include "quillarkmain.h"
#include "ui_quillarkmain.h"

#include "common/common.h"
#include "common/messagedialog.h"
#include "device/nodedevice.h"
#include "record/insertserialdata.h"
#include "view/projectcenter.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QStorageInfo>

QuillarkMain::UnwrittenRowsHook QuillarkMain::unwrittenRowsQuestion = [](QWidget *parent,
                                                                         const QString &text) {
    QMessageBox box(QMessageBox::Warning, kAppName, text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton *retry = box.addButton(QStringLiteral("Retry"), QMessageBox::AcceptRole);
    QPushButton *save = box.addButton(QStringLiteral("Save to File..."), QMessageBox::ActionRole);
    box.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    box.setDefaultButton(retry);
    box.exec();
    if (box.clickedButton() == retry)
        return UnwrittenRowsChoice::Retry;
    if (box.clickedButton() == save)
        return UnwrittenRowsChoice::SaveToFile;
    return UnwrittenRowsChoice::Discard;
};

QuillarkMain::SaveFileHook QuillarkMain::unwrittenRowsFile = [](QWidget *parent,
                                                                const QString &suggested) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save Recorded Rows"), suggested,
                                        QStringLiteral("Record database (*.dat)"));
};

namespace
{

// A new drop of rows is told at most this often.
constexpr qint64 kDropNoticeMs = 10 * 60 * 1000;
// Room a saved row takes at most in a record file (with its index), for
// judging whether a disk can take the rows.
constexpr qint64 kBytesPerRow = 128;
constexpr qint64 kSpareBytes = 16 * 1024 * 1024;

// `folder` when its disk has room for `bytes` more, else the first of the
// user's documents and home folders whose disk has (the database's disk is
// often the one that is full); `folder` when none has.
QString folderWithRoom(const QString &folder, qint64 bytes)
{
    const auto hasRoom = [bytes](const QString &candidate) {
        const QStorageInfo storage(candidate);
        return storage.isValid() && storage.isReady() && !storage.isReadOnly() &&
               storage.bytesAvailable() >= bytes + kSpareBytes;
    };
    if (hasRoom(folder))
        return folder;
    for (const QString &other :
         {QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), QDir::homePath()}) {
        if (!other.isEmpty() && QFileInfo(other).isDir() && hasRoom(other))
            return other;
    }
    return folder;
}

QString recordTime(qint64 seconds)
{
    return seconds == 0 ? QString()
                        : QDateTime::fromSecsSinceEpoch(seconds).toString(
                              QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

void QuillarkMain::checkDatabaseSize()
{
    const QFileInfo database(databasePath());
    if (!database.exists())
        return;
    // The write-ahead log holds the newest rows until they are checkpointed
    // into the file, so it counts towards the size.
    const QFileInfo log(database.filePath() + QStringLiteral("-wal"));
    const qint64 size = database.size() + (log.exists() ? log.size() : 0);
    m_projectCenter->setDatabaseSize(size);
    if (double(size) < kDatabaseSizeLimit) {
        m_sizeLimitReached = false;
        return;
    }
    // The record bar says it for as long as the file stays full.
    if (auto *label = m_projectCenter->findChild<QLabel *>(QStringLiteral("label_record_bytes"))) {
        label->setToolTip(
            label->text() +
            QStringLiteral(": the database file has reached 3.9 GiB; recording has stopped."));
        label->setText(QStringLiteral("Database full"));
    }
    if (!m_bIsRecordStart)
        return;
    qCWarning(lcApp).noquote()
        << "QuillarkMain::slotStdTimer : database size limit reached, recording stopped :"
        << database.filePath() << size << "bytes";
    slotStopRecord();
    m_sizeLimitReached = true;
    // Stays until dismissed: nobody may be watching when this happens.
    MessageDialog *dialog = showLastingMessage(
        this, QStringLiteral("WARNING"),
        QStringLiteral(
            "Recording has stopped: the database file\n%1\nhas reached 3.9 GiB, the largest size "
            "this "
            "program records into. Every row recorded so far is in it.\n\nTo record more, close "
            "this "
            "project and create a new one, or close it, move the database file to another folder "
            "(it stays readable there) and open the project again: a new file is started.")
            .arg(QDir::toNativeSeparators(database.filePath())));
    dialog->setObjectName(QStringLiteral("databaseFullMessage"));
}

void QuillarkMain::tellDroppedRows()
{
    static QElapsedTimer lastNotice;
    const qint64 dropped = InsertSerialData::droppedCount();
    if (dropped <= m_droppedTold)
        return;
    if (lastNotice.isValid() && lastNotice.elapsed() < kDropNoticeMs)
        return;
    lastNotice.start();
    const qint64 count = dropped - m_droppedTold;
    m_droppedTold = dropped;
    qCWarning(lcApp).noquote() << "QuillarkMain :" << count
                               << "recorded rows dropped, the row queue is full";
    showMessage(
        this, QStringLiteral("WARNING"),
        QStringLiteral(
            "%1 recorded rows were dropped, the oldest first: the database file has not taken "
            "any rows for a long time and the %2 rows the program keeps in memory are used "
            "up.\nCheck the disk and the database file; new rows are kept and written as "
            "soon as the file takes them.")
            .arg(count)
            .arg(InsertSerialData::queueLimit()));
}

namespace
{

QString unwrittenText(qsizetype rows, qsizetype entries)
{
    const QString rowText = QStringLiteral("%1 recorded rows").arg(rows);
    if (entries == 0)
        return rowText;
    const QString entryText = QStringLiteral("%1 alarm entries (acknowledgements, verifications, "
                                             "events)")
                                  .arg(entries);
    return rows == 0 ? entryText : rowText + QStringLiteral(" and ") + entryText;
}

// A file beside the database (or in a folder with room) for rows that cannot
// be written into it.
QString unwrittenRowsPath(const QString &databasePath, qsizetype rows)
{
    const QFileInfo info(databasePath);
    return folderWithRoom(info.absolutePath(), qint64(rows) * kBytesPerRow) + QLatin1Char('/') +
           info.completeBaseName() + QStringLiteral("-unwritten-") +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
           QStringLiteral(".dat");
}

} // namespace

void QuillarkMain::resolveUnwrittenRows()
{
    if (!m_insertSerialData || !m_insertSerialData->isOpened())
        return;
    m_insertSerialData->finishWrites();
    QString saveFailure; // told in the next question, not behind it
    // Acknowledgements and verifications typed while the file could not be
    // written are asked about like the rows: never dropped unasked.
    while (InsertSerialData::pendingCount() > 0 || InsertSerialData::pendingContextCount() > 0) {
        if (m_insertSerialData->insertNow() && InsertSerialData::pendingContextCount() == 0)
            return;
        const qsizetype count = InsertSerialData::pendingCount();
        const qsizetype entries = InsertSerialData::pendingContextCount();
        const QString path = m_insertSerialData->databasePath();
        qCWarning(lcApp).noquote() << "QuillarkMain :" << count << "recorded rows and" << entries
                                   << "alarm entries cannot be written to" << path << ":"
                                   << m_insertSerialData->lastWriteError();
        if (m_unattended) {
            // Nobody to ask: kept in a file of their own rather than lost.
            const QString target = unwrittenRowsPath(path, count);
            QString error;
            const bool saved = InsertSerialData::saveQueueTo(target, &error);
            qCWarning(lcApp).noquote()
                << "QuillarkMain :" << unwrittenText(count, entries)
                << (saved ? "saved to" : "could not be saved to") << target << error;
            return;
        }
        const QString text =
            saveFailure +
            QStringLiteral(
                "%1 cannot be written to the database file\n%2\n(%3).\n\n"
                "Retry: try writing them again.\nSave to File: write them into another database "
                "file of your choice, which the data viewer and the reports open like this one.\n"
                "Discard: throw them away.")
                .arg(unwrittenText(count, entries))
                .arg(QDir::toNativeSeparators(path), m_insertSerialData->lastWriteError());
        saveFailure.clear();
        switch (unwrittenRowsQuestion(this, text)) {
        case UnwrittenRowsChoice::Retry: break;
        case UnwrittenRowsChoice::SaveToFile: {
            const QString target = unwrittenRowsFile(this, unwrittenRowsPath(path, count));
            if (target.isEmpty())
                break;
            QString error;
            if (InsertSerialData::saveQueueTo(target, &error)) {
                showMessage(this, QStringLiteral("INFORMATION"),
                            QStringLiteral("%1 saved to\n%2")
                                .arg(unwrittenText(count, entries))
                                .arg(QDir::toNativeSeparators(target)));
                return;
            }
            saveFailure = QStringLiteral("The rows could not be saved to\n%1\n(%2).\n\n")
                              .arg(QDir::toNativeSeparators(target), error);
            qCWarning(lcApp).noquote() << "QuillarkMain :" << saveFailure.trimmed();
            break;
        }
        case UnwrittenRowsChoice::Discard:
            qCWarning(lcApp).noquote() << "QuillarkMain :" << count << "recorded rows and"
                                       << entries << "alarm entries discarded by the user";
            InsertSerialData::clearQueue();
            InsertSerialData::clearContextQueue();
            return;
        }
    }
}

void QuillarkMain::slotDatabaseRecreated(const QString &reason)
{
    const QString path = m_insertSerialData ? m_insertSerialData->databasePath() : databasePath();
    showMessage(
        this, QStringLiteral("WARNING"),
        QStringLiteral("The database file\n%1\nis not the one the project opened any more (%2).\n"
                       "Recording goes on into a new file at the same place; the rows recorded "
                       "before are in the old file, if it was kept.")
            .arg(QDir::toNativeSeparators(path), reason));
}

void QuillarkMain::slotRecordTimesChecked(qint64 first, qint64 last)
{
    if (!m_projectCenter)
        return;
    // While recording the end follows the clock.
    m_projectCenter->setRecordTimes(
        recordTime(first), m_bIsRecordStart ? m_projectCenter->recordEndTime() : recordTime(last));
}
