#include "forward/influxtarget.h"

#include "common/common.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace
{
std::atomic<int> g_timeoutMs{InfluxTarget::kDefaultTimeoutMs};
// An answer that is no JSON (a proxy's page) is shown up to this length.
constexpr int kMaxErrorText = 2000;
// Set on a reply aborted for its silence.
constexpr char kTimedOut[] = "quillarkTimedOut";

// Aborts a silent reply as a timeout once the events already on their way to
// it are handled: an answer that arrived meanwhile would otherwise make Qt
// report a second error of the reply. A reply finished by then keeps its end.
void abortSilent(QNetworkReply *reply)
{
    QMetaObject::invokeMethod(
        reply,
        [reply] {
            if (reply->isFinished())
                return;
            reply->setProperty(kTimedOut, true);
            reply->abort();
        },
        Qt::QueuedConnection);
}
} // namespace

InfluxTarget::InfluxTarget(const ProjectDocument &project, const ForwardSettings &settings,
                           bool testOnly, QObject *parent)
    : ForwardTarget(QStringLiteral("influx"), project, settings, settings.influxIdentity(),
                    testOnly, parent),
      m_url(writeUrl(settings))
{
    if (settings.influxV2())
        m_authorization = "Token " + settings.influxToken.toUtf8();
    else if (!settings.influxUser.isEmpty())
        m_authorization =
            "Basic " +
            (settings.influxUser + QLatin1Char(':') + settings.influxPassword).toUtf8().toBase64();
}

InfluxTarget::~InfluxTarget()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    abortInFlight();
}

void InfluxTarget::abortInFlight()
{
    // Deleted, not aborted: a reply whose answer is already on its way to it
    // would report a second error to Qt. Its request ends with it.
    for (InFlight &f : m_flight) {
        if (f.reply) {
            f.reply->disconnect(this);
            f.reply->deleteLater();
        }
    }
    m_flight.clear();
}

void InfluxTarget::setTimeoutMs(int ms)
{
    g_timeoutMs = qMax(1, ms);
}

QUrl InfluxTarget::writeUrl(const ForwardSettings &settings)
{
    QUrl url(settings.influxUrl.trimmed());
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    // Every value is percent-encoded, '+' included (a server reads a bare
    // '+' in a query as a space).
    QStringList query;
    const auto add = [&query](const char *key, const QString &value) {
        query << QLatin1String(key) + QLatin1Char('=') +
                     QString::fromLatin1(QUrl::toPercentEncoding(value));
    };
    if (settings.influxV2()) {
        path += QStringLiteral("/api/v2/write");
        add("org", settings.influxOrg.trimmed());
        add("bucket", settings.influxBucket.trimmed());
    } else {
        path += QStringLiteral("/write");
        add("db", settings.influxDatabase.trimmed());
    }
    add("precision", QStringLiteral("s"));
    url.setPath(path);
    url.setQuery(query.join(QLatin1Char('&')), QUrl::StrictMode);
    return url;
}

QString InfluxTarget::describeFailure(const ForwardSettings &settings, int networkError,
                                      int httpStatus, const QByteArray &body,
                                      const QString &networkText)
{
    const QString where = settings.influxUrl.trimmed();
    if (httpStatus == 0) {
        switch (networkError) {
        case QNetworkReply::ConnectionRefusedError:
            return QStringLiteral("InfluxDB at %1 refused the connection (is it running?).")
                .arg(where);
        case QNetworkReply::HostNotFoundError:
            return QStringLiteral("The InfluxDB host of %1 was not found.").arg(where);
        case QNetworkReply::OperationCanceledError:
        case QNetworkReply::TimeoutError:
            return QStringLiteral("InfluxDB at %1 did not answer within %2 s.")
                .arg(where)
                .arg(g_timeoutMs / 1000.0);
        case QNetworkReply::SslHandshakeFailedError:
            return QStringLiteral("The TLS connection to InfluxDB at %1 failed: %2")
                .arg(where, networkText);
        default:
            return QStringLiteral("InfluxDB at %1 cannot be reached: %2").arg(where, networkText);
        }
    }
    // 1.x answers {"error":".."}, 2.x {"code":"..","message":".."}.
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    QString detail = answer.value(QStringLiteral("error")).toString();
    if (detail.isEmpty())
        detail = answer.value(QStringLiteral("message")).toString();
    if (detail.isEmpty())
        detail = QString::fromUtf8(body.left(kMaxErrorText)).trimmed();
    if (httpStatus == 401 || httpStatus == 403) {
        return settings.influxV2() ? QStringLiteral("InfluxDB refused the token.")
                                   : QStringLiteral("InfluxDB refused the user name or password.");
    }
    if (httpStatus == 404) {
        if (settings.influxV2())
            return QStringLiteral("InfluxDB has no organisation \"%1\" with a bucket \"%2\" (%3).")
                .arg(settings.influxOrg, settings.influxBucket, detail);
        if (detail.contains(QLatin1String("database not found")))
            return QStringLiteral("InfluxDB has no database \"%1\".").arg(settings.influxDatabase);
        return QStringLiteral(
                   "InfluxDB at %1 has no write API (HTTP 404). Is this the right address?")
            .arg(where);
    }
    return QStringLiteral("InfluxDB answered HTTP %1: %2").arg(httpStatus).arg(detail);
}

void InfluxTarget::begin()
{
    m_network = new QNetworkAccessManager(this);
    if (m_testOnly) {
        m_reply = post(QByteArray());
        return;
    }
    qCDebug(lcForward).noquote() << "InfluxTarget::start : from id" << m_lastId << "to"
                                 << m_url.toString();
    schedule(0);
}

QNetworkReply *InfluxTarget::post(const QByteArray &body, bool closeAfter)
{
    QNetworkRequest request(m_url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("text/plain; charset=utf-8"));
    if (!m_authorization.isEmpty())
        request.setRawHeader(QByteArrayLiteral("Authorization"), m_authorization);
    // Qt's HTTP connection does not turn Nagle's algorithm off: on a kept
    // connection the last piece of a large body waits for the server's
    // delayed acknowledgement, about 40 ms a batch. A full batch (a backlog
    // being caught up) takes a connection of its own instead; small live
    // batches keep theirs.
    if (closeAfter)
        request.setRawHeader(QByteArrayLiteral("Connection"), QByteArrayLiteral("close"));
    QNetworkReply *reply = m_network->post(request, body);
    // A reply that moves no byte for the timeout is aborted and ends as a
    // timeout. (Qt's own transfer timeout reports its error twice.)
    auto *silence = new QTimer(reply);
    silence->setSingleShot(true);
    silence->setInterval(g_timeoutMs);
    const auto restart = [silence] { silence->start(); };
    connect(reply, &QNetworkReply::uploadProgress, silence, restart);
    connect(reply, &QNetworkReply::downloadProgress, silence, restart);
    connect(reply, &QNetworkReply::finished, silence, &QTimer::stop);
    connect(silence, &QTimer::timeout, reply, [reply] { abortSilent(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });
    silence->start();
    return reply;
}

bool InfluxTarget::buildBatch(qint64 afterId, Batch *batch)
{
    batch->body.clear();
    batch->body.reserve(m_batchRows * 160);
    batch->rows = 0;
    batch->lastId = afterId;
    const qint64 visited =
        m_reader.forEachRowAfterId(afterId, m_batchRows, [&](const RecordRow &row) {
            m_format.appendInfluxLine(batch->body, row);
            batch->lastId = row.id;
            batch->lastTime = row.pointDate;
            ++batch->rows;
            return true;
        });
    if (visited < 0) {
        failed(QStringLiteral("The record database cannot be read: %1").arg(m_reader.errorText()),
               m_state.connected);
        m_reader.close();
        return false;
    }
    return true;
}

void InfluxTarget::pump()
{
    if (m_testOnly || m_flight.size() >= size_t(kMaxInFlight))
        return;
    if (!ensureReader()) {
        if (m_flight.empty())
            schedule(m_failures ? maxRetryMs() : kIdlePollMs);
        return;
    }
    if (!refreshBacklog())
        return;
    // Up to kMaxInFlight batches on the way at once, in id order: while one
    // waits for the server, the next is sent.
    while (m_flight.size() < size_t(kMaxInFlight)) {
        const qint64 from = m_flight.empty() ? m_lastId : m_flight.back().batch.lastId;
        InFlight next;
        if (!buildBatch(from, &next.batch)) {
            abortInFlight();
            return;
        }
        if (next.batch.rows == 0) {
            if (!m_flight.empty())
                return;
            if (m_state.connected) {
                publishState();
                schedule(kIdlePollMs);
                return;
            }
            // Nothing to send, but whether the server takes writes is shown
            // before the first row: an empty write checks it.
            next.reply = post(QByteArray());
        } else if (next.batch.body.isEmpty()) {
            // Only gap marks: nothing to send, the position still moves on.
            next.done = true;
        } else {
            next.reply = post(next.batch.body, next.batch.rows >= m_batchRows);
        }
        m_flight.push_back(std::move(next));
        if (!m_flight.back().reply)
            deliverDone();
    }
}

void InfluxTarget::deliverDone()
{
    while (!m_flight.empty() && m_flight.front().done) {
        const Batch batch = m_flight.front().batch;
        m_flight.pop_front();
        delivered(batch.lastId, batch.lastTime, batch.rows);
    }
}

void InfluxTarget::finished(QNetworkReply *reply)
{
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    if (!m_testOnly)
        qCDebug(lcForward).noquote() << "InfluxTarget::finished : HTTP" << status;
    const int error =
        reply->property(kTimedOut).toBool() ? QNetworkReply::TimeoutError : reply->error();
    const bool ok = error == QNetworkReply::NoError && status >= 200 && status < 300;
    if (m_testOnly) {
        if (reply != m_reply)
            return;
        m_reply = nullptr;
        const QString text =
            ok ? QStringLiteral("InfluxDB at %1 accepts writes.")
                     .arg(m_settings.influxUrl.trimmed())
               : describeFailure(m_settings, error, status, body, reply->errorString());
        emit testFinished(ok, text);
        return;
    }
    const auto found = std::find_if(m_flight.begin(), m_flight.end(),
                                    [reply](const InFlight &f) { return f.reply == reply; });
    if (found == m_flight.end())
        return;
    if (ok && !found->parts.empty()) {
        // One part of a refused batch was taken: the next one goes.
        found->parts.pop_front();
        sendNextPart(*found);
        return;
    }
    if (ok) {
        found->done = true;
        found->reply = nullptr;
        m_state.connected = true;
        deliverDone();
        if (m_batchRows < kBatchRows)
            m_batchRows = qMin(kBatchRows, m_batchRows * 2);
        pump();
        return;
    }
    if (status == 400 && !found->batch.body.isEmpty()) {
        // The server refused lines of the batch (a name or value it cannot
        // take): halves are sent until each refused line stands alone; it is
        // counted and left out, and the rest goes on.
        m_state.connected = true;
        splitRefused(*found,
                     describeFailure(m_settings, error, status, body, reply->errorString()));
        return;
    }
    // The position stays at the last batch delivered in order; what was on
    // the way after it goes again at the next try.
    found->reply = nullptr;
    abortInFlight();
    if (status == 413 && m_batchRows > 100)
        m_batchRows /= 2;
    failed(describeFailure(m_settings, error, status, body, reply->errorString()), status != 0);
}

void InfluxTarget::splitRefused(InFlight &flight, const QString &reason)
{
    QByteArray part;
    if (flight.parts.empty()) {
        part = flight.batch.body;
    } else {
        part = flight.parts.front();
        flight.parts.pop_front();
    }
    const int lines = part.count('\n');
    if (lines <= 1) {
        rejected(1, reason);
    } else {
        // Cut at the line end nearest the middle.
        int cut = part.indexOf('\n', part.size() / 2);
        if (cut < 0 || cut + 1 >= part.size())
            cut = part.lastIndexOf('\n', part.size() - 2);
        flight.parts.push_front(part.mid(cut + 1));
        flight.parts.push_front(part.left(cut + 1));
    }
    sendNextPart(flight);
}

void InfluxTarget::sendNextPart(InFlight &flight)
{
    if (flight.parts.empty()) {
        flight.reply = nullptr;
        flight.done = true;
        deliverDone();
        pump();
        return;
    }
    flight.reply = post(flight.parts.front());
}
