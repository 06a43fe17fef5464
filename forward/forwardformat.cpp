#include "forward/forwardformat.h"

#include "common/common.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

const QByteArray ForwardFormat::kMeasurement = QByteArrayLiteral("quillark");

namespace
{
bool hasValue(double v)
{
    return v != NoValue && std::isfinite(v);
}

QString plainText(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    }
    return out;
}

// A backslash stands as it is in line protocol, except right before a
// character that is escaped and at the end of the text, where no escaping can
// express it (the server takes it for an escape, or refuses the line). There
// it is written as U+2216 (set minus), which reads the same.
QByteArray escaped(const QString &text, const char *special)
{
    const QByteArray utf8 = plainText(text).toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 4);
    const int n = utf8.size();
    for (int i = 0; i < n; ++i) {
        const char c = utf8[i];
        if (c == '\\') {
            if (i + 1 == n || std::strchr(special, utf8[i + 1]))
                out += "\xE2\x88\x96";
            else
                out += c;
            continue;
        }
        if (std::strchr(special, c))
            out += '\\';
        out += c;
    }
    return out;
}
} // namespace

ForwardFormat::ForwardFormat(const ProjectDocument &project, const QString &mqttPrefix,
                             bool flatPayload)
    : m_projectName(project.projectName), m_flat(flatPayload)
{
    QByteArray prefix = plainText(mqttPrefix).toUtf8();
    while (prefix.endsWith('/'))
        prefix.chop(1);
    if (!prefix.isEmpty())
        prefix += '/';
    m_topicBase = prefix + topicLevel(m_projectName) + '/';

    for (const ProjectDocument::Connection &connection : project.connections) {
        const QString gateway =
            connection.ipAddress + QLatin1Char(':') + QString::number(connection.port);
        for (const ProjectDocument::Node &node : connection.nodes) {
            const QByteArray key = node.deviceNumber.toUtf8();
            if (!m_devices.contains(key)) {
                m_devices.insert(key, makeDevice(node.deviceNumber, &node, gateway));
                m_gateways.insert(key, gateway);
            }
        }
    }
}

ForwardFormat::Device ForwardFormat::makeDevice(const QString &serial,
                                                const ProjectDocument::Node *node,
                                                const QString &gateway) const
{
    Device d;
    d.influxHead = kMeasurement;
    auto tag = [&](const char *key, const QString &value) {
        if (!value.isEmpty())
            d.influxHead += ',' + QByteArray(key) + '=' + escapeKey(value);
    };
    // Tags in key order, as the server sorts them anyway.
    tag("device", serial);
    tag("gateway", gateway);
    tag("name", node ? node->deviceName : QString());
    tag("project", m_projectName);
    d.influxHead += ' ';

    QString name1 = node ? node->ch1Name.trimmed() : QString();
    QString name2 = node ? node->ch2Name.trimmed() : QString();
    // "time" cannot be a field key, and two channels need two keys.
    if (name1.isEmpty() || name1 == QLatin1String("time"))
        name1 = QStringLiteral("channel1");
    if (name2.isEmpty() || name2 == QLatin1String("time") || name2 == name1)
        name2 = QStringLiteral("channel2");
    if (name1 == name2)
        name1 = QStringLiteral("channel1");
    d.field1 = escapeKey(name1) + '=';
    d.field2 = escapeKey(name2) + '=';

    d.topic = m_topicBase + topicLevel(serial);
    d.jsonHead = "{\"device\":" + jsonString(serial) +
                 ",\"name\":" + jsonString(node ? node->deviceName : QString()) + ',';
    auto channel = [](const QString &name, const QString &unit) {
        return "{\"name\":" + jsonString(name) + ",\"unit\":" + jsonString(unit) + ",\"value\":";
    };
    d.jsonCh1 = channel(node ? node->ch1Name : QString(),
                        node ? unitDisplayText(node->ch1Unit, node->ch1Custom) : QString());
    d.jsonCh2 = channel(node ? node->ch2Name : QString(),
                        node ? unitDisplayText(node->ch2Unit, node->ch2Custom) : QString());
    return d;
}

ForwardFormat::Device &ForwardFormat::device(const QByteArray &serialNo)
{
    auto it = m_devices.find(serialNo);
    if (it == m_devices.end()) {
        // A device no longer in the project: forwarded with its number only.
        it =
            m_devices.insert(serialNo, makeDevice(QString::fromUtf8(serialNo), nullptr, QString()));
    }
    return it.value();
}

void ForwardFormat::setSettingsHistory(const QVector<RecordDeviceSettings> &history)
{
    m_history.clear();
    for (const RecordDeviceSettings &entry : history) {
        ProjectDocument::Node node;
        node.deviceNumber = entry.serialNo;
        node.deviceName = entry.deviceName;
        node.ch1Name = entry.ch1Name;
        node.ch2Name = entry.ch2Name;
        node.ch1Unit = entry.ch1Unit;
        node.ch2Unit = entry.ch2Unit;
        node.ch1Custom = entry.ch1Custom;
        node.ch2Custom = entry.ch2Custom;
        const QByteArray key = entry.serialNo.toUtf8();
        auto &entries = m_history[key];
        entries.append({entry.validFrom, makeDevice(entry.serialNo, &node, m_gateways.value(key))});
    }
    for (auto &entries : m_history)
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
}

const ForwardFormat::Device &ForwardFormat::device(const QByteArray &serialNo, qint64 time)
{
    if (!m_history.isEmpty()) {
        const auto found = m_history.constFind(serialNo);
        if (found != m_history.constEnd() && !found->isEmpty() && time >= found->first().first) {
            const auto after = std::upper_bound(
                found->begin(), found->end(), time,
                [](qint64 t, const QPair<qint64, Device> &entry) { return t < entry.first; });
            return (after - 1)->second;
        }
    }
    return device(serialNo);
}

bool ForwardFormat::appendInfluxLine(QByteArray &out, const RecordRow &row)
{
    const bool has1 = hasValue(row.channel1);
    const bool has2 = hasValue(row.channel2);
    if (!has1 && !has2)
        return false;
    const Device &d = device(row.serialNo, row.pointDate);
    out += d.influxHead;
    if (has1) {
        out += d.field1;
        appendNumber(out, row.channel1);
    }
    if (has2) {
        if (has1)
            out += ',';
        out += d.field2;
        appendNumber(out, row.channel2);
    }
    out += ' ';
    appendInteger(out, row.pointDate);
    out += '\n';
    return true;
}

const QByteArray &ForwardFormat::topic(const QByteArray &serialNo)
{
    return device(serialNo).topic;
}

QByteArray ForwardFormat::liveTopic(const QByteArray &serialNo)
{
    return device(serialNo).topic + "/live";
}

QByteArray ForwardFormat::availabilityTopic() const
{
    return m_topicBase + "availability";
}

QByteArray ForwardFormat::payload(const RecordRow &row, bool withId)
{
    QByteArray out;
    appendPayload(out, row, withId);
    return out;
}

void ForwardFormat::appendPayload(QByteArray &out, const RecordRow &row, bool withId)
{
    const Device &d = device(row.serialNo, row.pointDate);
    // A reserved array keeps its memory when emptied.
    out.reserve(d.jsonHead.size() + d.jsonCh1.size() + d.jsonCh2.size() + 96);
    out.resize(0);
    out += d.jsonHead;
    if (withId) {
        out += "\"id\":";
        appendInteger(out, row.id);
        out += ',';
    }
    out += "\"time\":";
    appendInteger(out, row.pointDate);
    out += ",\"iso\":\"";
    appendIsoTime(out, row.pointDate);
    const auto value = [&out](double v) {
        if (hasValue(v))
            appendNumber(out, v);
        else
            out += "null";
    };
    if (m_flat) {
        out += "\",\"ch1\":";
        value(row.channel1);
        out += ",\"ch2\":";
        value(row.channel2);
        out += '}';
        return;
    }
    out += "\",\"channels\":[";
    out += d.jsonCh1;
    value(row.channel1);
    out += "},";
    out += d.jsonCh2;
    value(row.channel2);
    out += "}]}";
}

QByteArray ForwardFormat::escapeMeasurement(const QString &text)
{
    return escaped(text, ", ");
}

QByteArray ForwardFormat::escapeKey(const QString &text)
{
    return escaped(text, ",= ");
}

QByteArray ForwardFormat::topicLevel(const QString &text)
{
    QByteArray out = plainText(text).toUtf8();
    for (char &c : out) {
        if (c == '/' || c == '+' || c == '#')
            c = '_';
    }
    return out.isEmpty() ? QByteArrayLiteral("_") : out;
}

QByteArray ForwardFormat::jsonString(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (unsigned char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    out += '"';
    return out;
}

void ForwardFormat::appendNumber(QByteArray &out, double value)
{
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    out.append(buf, int(end - buf));
}

void ForwardFormat::appendInteger(QByteArray &out, qint64 value)
{
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    out.append(buf, int(end - buf));
}

void ForwardFormat::appendIsoTime(QByteArray &out, qint64 unixSeconds)
{
    // The date changes once a day: it is worked out then, the time of day by arithmetic.
    thread_local qint64 cachedDay = std::numeric_limits<qint64>::min();
    thread_local char date[16];
    thread_local int dateLength = 0;
    const qint64 day = unixSeconds >= 0 ? unixSeconds / 86400 : (unixSeconds - 86399) / 86400;
    if (day != cachedDay) {
        const std::time_t t = static_cast<std::time_t>(day * 86400);
        std::tm tm{};
        gmtime_r(&t, &tm);
        dateLength = std::snprintf(date, sizeof date, "%04d-%02d-%02dT", tm.tm_year + 1900,
                                   tm.tm_mon + 1, tm.tm_mday);
        cachedDay = day;
    }
    const int second = int(unixSeconds - day * 86400);
    const char clock[9] = {char('0' + second / 36000),   char('0' + second / 3600 % 10), ':',
                           char('0' + second / 600 % 6), char('0' + second / 60 % 10),   ':',
                           char('0' + second % 60 / 10), char('0' + second % 10),        'Z'};
    out.append(date, dateLength);
    out.append(clock, int(sizeof clock));
}
