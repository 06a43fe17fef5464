#include "viewer/csvexporter.h"

#include "common/common.h"
#include "record/recordreader.h"
#include "record/recordrowcursor.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace
{

constexpr int kBufferBytes = 1 << 20;

void appendInteger(QByteArray &out, qint64 value)
{
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, int(result.ptr - text));
}

} // namespace

CsvFormat CsvFormat::forLocale()
{
    CsvFormat format;
    if (QLocale().decimalPoint() == QLatin1Char(',')) {
        format.decimalComma = true;
        format.separator = ';';
    }
    return format;
}

bool CsvFormat::setSeparatorName(const QString &name)
{
    if (name == QLatin1String(",") || name == QLatin1String(";"))
        separator = name.at(0).toLatin1();
    else if (name == QLatin1String("tab") || name == QLatin1String("\t"))
        separator = '\t';
    else
        return false;
    return true;
}

QString CsvFormat::separatorName() const
{
    return separator == '\t' ? QStringLiteral("tab") : QString(QLatin1Char(separator));
}

QString CsvFormat::conflict() const
{
    if (decimalComma && separator == ',')
        return QStringLiteral("A decimal comma needs another field separator than a comma: a "
                              "semicolon or a tab.");
    return QString();
}

CsvExporter::CsvExporter(RecordReader *reader, const QVector<SeriesInfo> &series, qint64 from,
                         qint64 to, const QString &path, const Format &format)
    : m_reader(reader), m_series(series), m_from(from), m_to(to), m_path(path), m_format(format)
{
    if (m_format.decimalComma && m_format.separator == ',')
        m_format.separator = ';';
    for (int i = 0; i < series.size(); ++i) {
        const QByteArray serial = series.at(i).deviceNumber.toUtf8();
        int d = 0;
        while (d < m_devices.size() && m_devices.at(d).serial != serial)
            ++d;
        if (d == m_devices.size())
            m_devices.append(Device{serial, -1, -1});
        (series.at(i).channel == 1 ? m_devices[d].column1 : m_devices[d].column2) = i;
    }
    m_values.resize(series.size());
    m_hasValue.resize(series.size());
    m_seenDevice.fill(-1, m_devices.size());
}

CsvExporter::~CsvExporter()
{
    if (m_file && m_state == State::Running)
        m_file->cancelWriting();
}

QByteArray CsvExporter::quoteField(const QString &text, char separator)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty() && QByteArray("=+-@\t\r").contains(bytes.at(0)))
        bytes.prepend('\'');
    if (bytes.contains(separator) || bytes.contains('"') || bytes.contains('\n') ||
        bytes.contains('\r')) {
        bytes.replace("\"", "\"\"");
        return '"' + bytes + '"';
    }
    return bytes;
}

QString CsvExporter::writeError(const QFileDevice &file, int error)
{
    switch (error) {
    case ENOSPC: return QStringLiteral("no space left on the disk");
    case EDQUOT: return QStringLiteral("the disk quota is used up");
    case EFBIG: return QStringLiteral("the file reached the largest size allowed");
    default: return file.errorString();
    }
}

QByteArray CsvExporter::headerLine() const
{
    const char s = m_format.separator;
    QByteArray line = QByteArray("Local time") + s + "ISO 8601" + s + "Unix time";
    for (const SeriesInfo &info : m_series)
        line += s + quoteField(info.labelWithUnit(), s);
    return line;
}

bool CsvExporter::fail(const QString &text)
{
    m_errorText = text;
    m_state = State::Failed;
    qCWarning(lcViewer).noquote() << "CsvExporter :" << text;
    m_cursor.reset();
    if (m_file)
        m_file->cancelWriting();
    m_file.reset();
    return false;
}

bool CsvExporter::start()
{
    m_state = State::Running;
    const QFileInfo target(m_path);
    if (target.isDir())
        return fail(QStringLiteral("%1 is a folder.").arg(m_path));
    if (!target.absoluteDir().exists())
        return fail(QStringLiteral("The folder %1 does not exist.").arg(target.absolutePath()));
    m_file = std::make_unique<QSaveFile>(m_path);
    if (!m_file->open(QIODevice::WriteOnly))
        return fail(QStringLiteral("Cannot write into the folder %1 (%2).")
                        .arg(target.absolutePath(), m_file->errorString()));

    if (!m_reader->isOpen())
        return fail(QStringLiteral("The record database is not open."));
    // The whole recording needs no search (nor the time-order check).
    const bool everything = m_from <= kUnboundedFrom && m_to >= kUnboundedTo;
    if (!everything && m_reader->timeOrdered()) {
        if (!m_reader->idRangeForTime(m_from, m_to, &m_firstId, &m_lastId)) {
            if (m_reader->status() != RecordReader::Status::Ok)
                return fail(m_reader->errorText());
            m_firstId = 1;
            m_lastId = 0; // nothing in the range: a file with its header only
        }
    } else {
        if (m_reader->status() != RecordReader::Status::Ok)
            return fail(m_reader->errorText());
        m_firstId = m_reader->minId();
        m_lastId = m_reader->maxId();
    }
    m_nextId = m_firstId;
    m_cursor = std::make_unique<RecordRowCursor>(*m_reader);
    // Made ready here, so that a file the rows cannot be read from fails at once.
    if (!m_cursor->selectIdsInTime(m_nextId, m_lastId, m_from, m_to))
        return fail(m_cursor->errorText());
    m_buffer.reserve(kBufferBytes + 4096);
    m_buffer = (m_format.bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + headerLine() + "\r\n";
    return true;
}

double CsvExporter::progress() const
{
    if (m_lastId < m_firstId)
        return 1;
    return double(m_nextId - m_firstId) / double(m_lastId - m_firstId + 1);
}

// "2026-01-01 01:00:00" and "2026-01-01T01:00:00+01:00": local time, alone
// and with its offset from UTC. Zone offsets are whole quarters of an hour
// and change only on such a boundary, so within one quarter of UTC the local
// date and the offset stay the same: they are worked out once per quarter
// and the clock time by arithmetic.
void CsvExporter::appendTimes(qint64 seconds)
{
    const qint64 quarter = seconds >= 0 ? seconds / 900 : -((-seconds + 899) / 900);
    if (!m_quarterValid || quarter != m_quarter) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(quarter * 900, Qt::LocalTime);
        m_offset = local.offsetFromUtc();
        const QByteArray date = local.date().toString(Qt::ISODate).toLatin1();
        m_localDate = date + ' ';
        m_isoDate = date + 'T';
        const int minutes = std::abs(m_offset) / 60;
        m_offsetSuffix = QStringLiteral("%1%2:%3")
                             .arg(m_offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                             .arg(minutes % 60, 2, 10, QLatin1Char('0'))
                             .toLatin1();
        m_quarter = quarter;
        m_quarterValid = true;
    }
    qint64 daySeconds = (seconds + m_offset) % 86400;
    if (daySeconds < 0)
        daySeconds += 86400;
    char clock[9] = {char('0' + daySeconds / 36000),      char('0' + daySeconds / 3600 % 10), ':',
                     char('0' + daySeconds % 3600 / 600), char('0' + daySeconds % 600 / 60),  ':',
                     char('0' + daySeconds % 60 / 10),    char('0' + daySeconds % 10),        0};
    m_buffer += m_localDate;
    m_buffer.append(clock, 8);
    m_buffer += m_format.separator;
    m_buffer += m_isoDate;
    m_buffer.append(clock, 8);
    m_buffer += m_offsetSuffix;
}

void CsvExporter::appendValue(double value)
{
    char text[48];
    const auto result = m_format.fullPrecision
                            ? std::to_chars(text, text + sizeof text, value)
                            : std::to_chars(text, text + sizeof text, value,
                                            std::chars_format::fixed, kSensorDecimals);
    if (result.ec != std::errc())
        return; // a value too long for the cell's text: left empty
    if (m_format.decimalComma) {
        for (char *c = text; c != result.ptr; ++c) {
            if (*c == '.')
                *c = ',';
        }
    }
    m_buffer.append(text, int(result.ptr - text));
}

bool CsvExporter::flushBuffer()
{
    if (m_buffer.isEmpty())
        return true;
    errno = 0;
    const qint64 written = m_file->write(m_buffer);
    if (written != m_buffer.size())
        return fail(QStringLiteral("Writing %1 failed (%2); nothing was kept.")
                        .arg(m_path, writeError(*m_file, errno)));
    m_buffer.clear();
    return true;
}

void CsvExporter::writeLine()
{
    appendTimes(m_lineTime);
    m_buffer += m_format.separator;
    appendInteger(m_buffer, m_lineTime);
    for (int i = 0; i < m_values.size(); ++i) {
        m_buffer += m_format.separator;
        if (m_hasValue.at(i)) {
            appendValue(m_values.at(i));
            m_hasValue[i] = false;
        }
    }
    m_buffer += "\r\n";
    ++m_lines;
    m_lineOpen = false;
}

CsvExporter::State CsvExporter::step(qint64 maxRows)
{
    if (m_state != State::Running)
        return m_state;
    if (m_nextId > m_lastId) {
        finish();
        return m_state;
    }
    const qint64 sliceEnd = std::min(m_lastId, m_nextId + std::max<qint64>(1, maxRows) - 1);
    RecordRowCursor &rows = *m_cursor;
    rows.selectIdsInTime(m_nextId, sliceEnd, m_from, m_to); // made ready by start()
    while (rows.next()) {
        ++m_rowsRead;
        const char *serial = rows.serial();
        const int length = rows.serialLength();
        int d = -1;
        const int n = m_devices.size();
        for (int k = 0; k < n; ++k) {
            const int i = (m_hint + k) % n;
            const QByteArray &s = m_devices.at(i).serial;
            if (s.size() == length && std::memcmp(s.constData(), serial, size_t(length)) == 0) {
                d = i;
                m_hint = (i + 1) % n;
                break;
            }
        }
        if (d < 0)
            continue;
        const qint64 time = rows.pointDate();
        // A new time, or a device already on this line (the clock went
        // back), starts a new line.
        if (m_lineOpen && (time != m_lineTime || m_seenDevice.at(d) == m_lines))
            writeLine();
        if (!m_lineOpen) {
            m_lineOpen = true;
            m_lineTime = time;
        }
        m_seenDevice[d] = m_lines;
        const Device &device = m_devices.at(d);
        if (device.column1 >= 0 && !rows.channelIsNull(1)) {
            m_values[device.column1] = rows.channel(1);
            m_hasValue[device.column1] = true;
        }
        if (device.column2 >= 0 && !rows.channelIsNull(2)) {
            m_values[device.column2] = rows.channel(2);
            m_hasValue[device.column2] = true;
        }
        if (m_buffer.size() >= kBufferBytes && !flushBuffer())
            return m_state;
    }
    if (rows.failed()) {
        fail(QStringLiteral("Reading %1 failed: %2").arg(m_reader->path(), rows.errorText()));
        return m_state;
    }
    m_nextId = sliceEnd + 1;
    if (m_nextId > m_lastId)
        finish();
    return m_state;
}

void CsvExporter::finish()
{
    if (m_lineOpen)
        writeLine();
    if (!flushBuffer())
        return;
    m_cursor.reset();
    errno = 0;
    if (!m_file->commit()) {
        m_errorText = QStringLiteral("Writing %1 failed (%2); nothing was kept.")
                          .arg(m_path, writeError(*m_file, errno));
        m_state = State::Failed;
        qCWarning(lcViewer).noquote() << "CsvExporter :" << m_errorText;
        m_file.reset();
        return;
    }
    m_file.reset();
    m_state = State::Done;
}

bool CsvExporter::run()
{
    if (m_state == State::Running && !m_file && !start())
        return false;
    while (step(1000000) == State::Running) {
    }
    return m_state == State::Done;
}

void CsvExporter::cancel()
{
    if (m_state != State::Running)
        return;
    m_cursor.reset();
    if (m_file)
        m_file->cancelWriting();
    m_file.reset();
    m_state = State::Cancelled;
}
