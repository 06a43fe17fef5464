#pragma once

#include "forward/forwardtarget.h"

#include <QByteArray>
#include <QUrl>

#include <deque>

class QNetworkAccessManager;
class QNetworkReply;

// Writes recorded rows to InfluxDB over HTTP in line protocol: the 1.x API
// (/write?db=..&precision=s, user and password as basic authentication) or the
// 2.x API (/api/v2/write?org=..&bucket=..&precision=s, "Authorization: Token").
// Rows go in batches of kBatchRows lines, up to kMaxInFlight of them on the
// way at once (each on its own connection), so the server is never left
// waiting on us; the position moves only over batches delivered in order.
// A resent point (same series and time) overwrites itself in InfluxDB, so
// at-least-once delivery stores every sample once. Lines the server refuses
// (HTTP 400) are found by sending halves of the batch, counted as rejected
// and left out; the rows around them go on.
class InfluxTarget : public ForwardTarget
{
    Q_OBJECT

public:
    static constexpr int kBatchRows = 5000;
    static constexpr int kDefaultTimeoutMs = 30000;

    // testOnly: start() sends one empty write (which checks address,
    // credentials and database without storing anything), emits
    // testFinished() and does nothing more.
    InfluxTarget(const ProjectDocument &project, const ForwardSettings &settings,
                 bool testOnly = false, QObject *parent = nullptr);
    ~InfluxTarget() override;

    // A request without any answer for this long counts as failed.
    static void setTimeoutMs(int ms);

    // The write address for these settings (without credentials).
    static QUrl writeUrl(const ForwardSettings &settings);

    // The user's sentence for a failed write; `body` is the server's answer.
    static QString describeFailure(const ForwardSettings &settings, int networkError,
                                   int httpStatus, const QByteArray &body,
                                   const QString &networkText);

protected:
    void begin() override;
    void pump() override;
    void restartedFromFirstRow() override { abortInFlight(); }

private:
    struct Batch {
        QByteArray body;
        qint64 lastId = 0;
        qint64 lastTime = 0;
        qint64 rows = 0; // recorded rows covered, gap marks included
    };
    struct InFlight {
        QNetworkReply *reply = nullptr; // none for a batch of gap marks only
        Batch batch;
        bool done = false;
        // Once the server refused the batch: what is left of it, in parts
        // sent one after the other (the front one is on the way).
        std::deque<QByteArray> parts;
    };
    static constexpr int kMaxInFlight = 2;
    bool buildBatch(qint64 afterId, Batch *batch);
    // Delivers the batches done at the front, in id order.
    void deliverDone();
    void abortInFlight();
    QNetworkReply *post(const QByteArray &body, bool closeAfter = false);
    void finished(QNetworkReply *reply);
    void splitRefused(InFlight &flight, const QString &reason);
    void sendNextPart(InFlight &flight);

    QNetworkAccessManager *m_network = nullptr;
    QNetworkReply *m_reply = nullptr;
    QByteArray m_authorization;
    QUrl m_url;
    int m_batchRows = kBatchRows;
    std::deque<InFlight> m_flight;
};
