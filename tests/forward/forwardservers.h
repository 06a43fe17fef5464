#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>

class InsertSerialData;

// Real servers and a real record database for the forwarding tests. Every
// server listens on 127.0.0.1 on a free port, keeps its files in a temporary
// folder and is stopped when its object goes.
namespace ForwardTest
{

// A project file with `devices` devices (serials QK00000...) in a temporary
// folder, and a writer that appends rows to its record database through the
// recorder's own database writer. Row n (from 1) of the whole recording holds
// channel 1 = n / 4.0 and channel 2 = -n, so a reader can tell every row apart.
class RecordedProject
{
public:
    explicit RecordedProject(int devices = 4);
    ~RecordedProject();

    bool isValid() const { return m_valid; }
    QString path() const { return m_path; }
    QString databasePath() const;

    // Appends `samples` samples of every device, written in one go; true
    // when the database took them.
    bool record(int samples);
    // Renames the first gateway's devices, in order: a device name, and
    // channel 1's when a second name is given.
    bool rename(const QList<QStringList> &names);
    // rowKey() of every recorded row.
    QSet<QString> expected() const { return m_expected; }
    qint64 rowCount() const { return m_rows; }
    static constexpr qint64 kStartTime = 1767225600; // 2026-01-01 00:00 UTC

private:
    QTemporaryDir m_dir;
    QString m_path;
    QStringList m_serials;
    std::unique_ptr<InsertSerialData> m_db;
    qint64 m_rows = 0;
    qint64 m_time = kStartTime;
    bool m_valid = false;
    QSet<QString> m_expected;
};

// "serial@time ch1 ch2": one delivered row as a target stored it.
QString rowKey(const QString &serial, qint64 time, double ch1, double ch2);

// A CA, a second CA and a certificate for "localhost" signed by the first,
// made with openssl in `dir`: ca.pem, other-ca.pem, server.pem, server.key;
// and garbage.pem, which holds no certificate.
QString makeCertificates(const QString &dir);

// A server program started with a configuration file of its own folder.
// start() and restart() give an empty text when it listens, else why not.
class ServerProcess
{
public:
    ~ServerProcess() { stop(); }
    QString restart();
    void stop();
    quint16 port() const { return m_port; }

protected:
    // Writes the configuration and starts `program` with `option` naming it.
    QString launch(const QString &program, const QString &option, const QByteArray &config);

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_program;
    QStringList m_arguments;
    quint16 m_port = 0;
};

// influxd (the Debian 1.x server); port() is its HTTP API.
class InfluxServer : public ServerProcess
{
public:
    QString start(bool auth = false);
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    // Runs one InfluxQL statement through the HTTP API (as admin when auth is on).
    QJsonObject query(const QString &statement, const QString &database = QString());
    // The values of every series of a query, row by row (times in seconds).
    QList<QJsonArray> values(const QString &statement, const QString &database);
    // Posts line protocol as it is; the HTTP status.
    int write(const QString &database, const QByteArray &lines);
    // rowKey() of every point of the measurement, and their number.
    QSet<QString> stored(const QString &database, int *count = nullptr);
    static constexpr const char *kAdmin = "admin";
    static constexpr const char *kAdminPassword = "s3cret-admin";

private:
    QByteArray curl(QStringList arguments, const QByteArray &input = QByteArray());
    bool m_auth = false;
};

// mosquitto, optionally with a password file and always with persistence, so
// that a subscriber's session survives a restart of the broker.
class MosquittoBroker : public ServerProcess
{
public:
    // With `certificates` (see makeCertificates()) the listener speaks TLS only.
    QString start(const QString &user = QString(), const QString &password = QString(),
                  const QString &certificates = QString());
};

// mosquitto_sub with a persistent session at QoS 1, printing "topic payload".
class Subscriber
{
public:
    ~Subscriber();
    // With `probeTopic` (under `topic`), publishes there until the
    // subscription shows it, and forgets the probe lines.
    bool start(quint16 port, const QString &topic, const QString &probeTopic = QString());
    // Lines received so far (each "topic payload").
    QStringList lines() const { return m_lines; }
    // rowKey() of the recorded rows received (either payload form), and how
    // many messages carried them.
    QSet<QString> rows(int *count = nullptr) const;

private:
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
};

// A small HTTP server on 127.0.0.1 standing in for the InfluxDB 2.x API:
// it keeps every request and answers each with the status given (or never).
class FakeHttpServer : public QObject
{
public:
    struct Request {
        QByteArray target;                     // path and query
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };
    bool start();
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    // Status of the next answers; 0 means never answer.
    void setStatus(int status, const QByteArray &body = QByteArray())
    {
        m_status = status;
        m_body = body;
    }
    QList<Request> requests() const { return m_requests; }
    // Lines of all answered (2xx) request bodies.
    QList<QByteArray> acceptedLines() const { return m_accepted; }

private:
    void serve(QTcpSocket *socket);
    QTcpServer m_server;
    int m_status = 204;
    QByteArray m_body;
    QList<Request> m_requests;
    QList<QByteArray> m_accepted;
};

} // namespace ForwardTest
