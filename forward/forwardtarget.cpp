#include "forward/forwardtarget.h"

#include "common/common.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <sys/stat.h>

#include <atomic>
#include <limits>

namespace
{
std::atomic<int> g_firstRetryMs{1000};
std::atomic<int> g_maxRetryMs{60000};
// State updates while rows flow are sent at most this often.
constexpr int kStateIntervalMs = 250;
} // namespace

ForwardTarget::ForwardTarget(const QString &name, const ProjectDocument &project,
                             const ForwardSettings &settings, const QString &identity,
                             bool testOnly, QObject *parent)
    : QObject(parent), m_name(name), m_testOnly(testOnly), m_projectPath(project.path),
      m_databasePath(project.databasePath()), m_settings(settings),
      m_format(project, settings.mqttPrefix, settings.mqttFlat),
      m_position(project.path, name, identity)
{
    qRegisterMetaType<ForwardState>();
    m_state.enabled = true;
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { pump(); });
}

ForwardTarget::~ForwardTarget() = default;

void ForwardTarget::setRetryDelays(int firstMs, int maxMs)
{
    g_firstRetryMs = qMax(1, firstMs);
    g_maxRetryMs = qMax(g_firstRetryMs.load(), maxMs);
}

int ForwardTarget::firstRetryMs()
{
    return g_firstRetryMs;
}

int ForwardTarget::maxRetryMs()
{
    return g_maxRetryMs;
}

void ForwardTarget::start()
{
    // The position comes first: no set-up step that fails may leave it unknown.
    if (!m_testOnly) {
        m_lastId = m_position.load();
        m_savedId = m_lastId;
        m_state.lastId = m_lastId;
    }
    begin();
}

void ForwardTarget::wake()
{
    if (m_failures == 0 && m_timer->isActive())
        schedule(0);
}

bool ForwardTarget::fileIdentity(quint64 *device, quint64 *inode) const
{
    struct stat info;
    if (::stat(QFile::encodeName(m_databasePath).constData(), &info) != 0)
        return false;
    *device = quint64(info.st_dev);
    *inode = quint64(info.st_ino);
    return true;
}

bool ForwardTarget::ensureReader()
{
    if (m_reader.isOpen()) {
        quint64 device = 0;
        quint64 inode = 0;
        // Still the file the recorder writes (or none there yet): go on.
        if (!fileIdentity(&device, &inode) || (device == m_fileDevice && inode == m_fileInode))
            return true;
        // The recorder went on into a new file (the old one was deleted,
        // moved or replaced). The open one's last rows are nowhere else:
        // they go first, then the new file from its first row.
        qint64 newest = 0;
        if (newestId(&newest) && newest > m_lastId)
            return true;
        qCWarning(lcForward).noquote()
            << "ForwardTarget :" << m_name << ": the record database" << m_databasePath
            << "is a new file; forwarding it from its first row";
        m_reader.close();
        m_lastId = 0;
        m_savedId = -1;
        savePosition();
        restartedFromFirstRow();
    }
    if (!QFileInfo::exists(m_databasePath)) {
        // Nothing recorded yet: not an error.
        m_state.lastError.clear();
        return false;
    }
    // Taken before the open: a file swapped in between shows as new at the next look.
    if (!fileIdentity(&m_fileDevice, &m_fileInode))
        m_fileDevice = m_fileInode = 0;
    if (!m_reader.open(m_databasePath)) {
        const QString error =
            QStringLiteral("The record database cannot be read: %1").arg(m_reader.errorText());
        if (m_state.lastError != error)
            qCWarning(lcForward).noquote() << "ForwardTarget::ensureReader :" << m_name << error;
        m_state.lastError = error;
        publishState();
        return false;
    }
    // Names and units as they were when each row was recorded, where the file keeps them.
    RecordContext context(m_reader);
    if (context.hasSettings())
        m_format.setSettingsHistory(context.settingsBetween(0, std::numeric_limits<qint64>::max()));
    return true;
}

bool ForwardTarget::newestId(qint64 *id)
{
    qint64 time = 0;
    return m_reader.newestRow(id, &time);
}

bool ForwardTarget::refreshBacklog()
{
    qint64 newest = 0;
    qint64 newestTime = 0;
    if (!m_reader.newestRow(&newest, &newestTime)) {
        // A read error is no proof that the rows are gone: keep the position,
        // open the file afresh at the next try.
        const QString error =
            QStringLiteral("The record database cannot be read: %1").arg(m_reader.errorText());
        m_reader.close();
        failed(error, m_state.connected);
        return false;
    }
    if (newest < m_lastId) {
        qCWarning(lcForward).noquote()
            << "ForwardTarget :" << m_name << ": the record database holds ids up to" << newest
            << "but" << m_lastId
            << "were forwarded; it was replaced, forwarding it from its first row";
        m_lastId = 0;
        m_savedId = -1;
        m_state.lastTime = 0;
        savePosition();
    }
    if (m_lastId > 0 && m_state.lastTime == 0)
        m_reader.rowTime(m_lastId, &m_state.lastTime);
    m_state.backlog = qMax<qint64>(0, newest - m_lastId);
    m_state.backlogSeconds = m_state.backlog > 0 && m_state.lastTime > 0
                                 ? qMax<qint64>(0, newestTime - m_state.lastTime)
                                 : 0;
    m_state.lastId = m_lastId;
    return true;
}

void ForwardTarget::delivered(qint64 lastId, qint64 lastTime, qint64 rows, bool save)
{
    m_lastId = lastId;
    m_state.forwarded += rows;
    m_state.lastId = lastId;
    if (lastTime > 0) {
        if (m_state.lastTime > 0)
            m_state.backlogSeconds =
                qMax<qint64>(0, m_state.backlogSeconds - (lastTime - m_state.lastTime));
        m_state.lastTime = lastTime;
    }
    m_state.backlog = qMax<qint64>(0, m_state.backlog - rows);
    if (m_state.backlog == 0)
        m_state.backlogSeconds = 0;
    if (!m_state.lastError.isEmpty())
        qCWarning(lcForward).noquote() << "ForwardTarget :" << m_name << ": delivering again";
    m_state.lastError.clear();
    m_failures = 0;
    if (save)
        savePosition();
    publishState(false);
}

void ForwardTarget::rejected(qint64 rows, const QString &reason)
{
    if (m_state.rejected == 0) {
        m_state.rejectReason = reason;
        qCWarning(lcForward).noquote() << "ForwardTarget :" << m_name << ": refused:" << reason;
    }
    m_state.rejected += rows;
    publishState();
}

void ForwardTarget::savePosition()
{
    if (m_savedId == m_lastId)
        return;
    if (m_position.save(m_lastId)) {
        m_savedId = m_lastId;
    } else {
        const QString error = QStringLiteral("The forwarding position cannot be written to %1.")
                                  .arg(m_position.filePath());
        m_state.lastError = error;
    }
}

void ForwardTarget::failed(const QString &error, bool connected)
{
    if (error != m_state.lastError)
        qCWarning(lcForward).noquote() << "ForwardTarget :" << m_name << ":" << error;
    m_state.lastError = error;
    m_state.connected = connected;
    const int shift = qMin(m_failures, 16);
    const qint64 delay = qMin<qint64>(qint64(firstRetryMs()) << shift, maxRetryMs());
    ++m_failures;
    publishState();
    schedule(int(delay));
}

void ForwardTarget::setConnected(bool connected)
{
    if (m_state.connected == connected)
        return;
    m_state.connected = connected;
    publishState();
}

void ForwardTarget::schedule(int ms)
{
    m_timer->start(ms);
}

void ForwardTarget::publishState(bool force)
{
    if (!force && m_stateClock.isValid() && m_stateClock.elapsed() < kStateIntervalMs)
        return;
    m_stateClock.restart();
    emit stateChanged(m_state);
}
