#include "forwardservers.h"

#include "common/projectdocument.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QUuid>

#include <unistd.h>

namespace ForwardTest
{

namespace
{
bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

void terminate(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
} // namespace

RecordedProject::RecordedProject(int devices)
{
    if (!m_dir.isValid())
        return;
    m_path = m_dir.filePath(QStringLiteral("site.qlk"));
    // At most 8 devices per gateway, as a project holds them.
    const bool two = devices > 8;
    if (!TestSupport::writeProject(m_path, 1000,
                                   two ? QVector<quint16>{1502, 1503} : QVector<quint16>{1502},
                                   two ? (devices + 1) / 2 : devices))
        return;
    ProjectDocument doc;
    if (!doc.load(m_path))
        return;
    for (const auto &node : doc.nodes())
        m_serials << node.deviceNumber;
    m_db = std::make_unique<InsertSerialData>(doc.databasePath(),
                                              QUuid::createUuid().toString(QUuid::Id128));
    m_valid = m_db->createConnection();
}

RecordedProject::~RecordedProject() = default;

QString RecordedProject::databasePath() const
{
    return m_db ? m_db->databasePath() : QString();
}

bool RecordedProject::record(int samples)
{
    for (int s = 0; s < samples; ++s) {
        for (const QString &serial : qAsConst(m_serials)) {
            ++m_rows;
            SerialRecord r;
            r.serialNo = serial;
            r.channel1 = channel1(m_rows);
            r.channel2 = channel2(m_rows);
            r.pointDate = quint32(m_time);
            InsertSerialData::appendRecord(r);
            m_expected.insert(rowKey(serial, m_time, r.channel1, r.channel2));
        }
        ++m_time;
    }
    return m_db->insertNow();
}

bool RecordedProject::editDevices(const QList<QJsonObject> &changes)
{
    QSettings settings(m_path, QSettings::IniFormat);
    QJsonObject root = QJsonDocument::fromJson(settings.value("DeviceList").toByteArray()).object();
    QJsonArray connections = root.value(QStringLiteral("devices")).toArray();
    int i = 0;
    for (int c = 0; c < connections.size(); ++c) {
        QJsonObject connection = connections[c].toObject();
        QJsonArray nodes = connection.value(QStringLiteral("nodes")).toArray();
        for (int n = 0; n < nodes.size() && i < changes.size(); ++n) {
            QJsonObject node = nodes[n].toObject();
            const QJsonObject &change = changes.at(i++);
            for (auto it = change.begin(); it != change.end(); ++it)
                node.insert(it.key(), it.value());
            nodes[n] = node;
        }
        connection.insert(QStringLiteral("nodes"), nodes);
        connections[c] = connection;
    }
    root.insert(QStringLiteral("devices"), connections);
    settings.setValue("DeviceList", QJsonDocument(root).toJson(QJsonDocument::Compact));
    settings.sync();
    return i == changes.size() && settings.status() == QSettings::NoError;
}

QString rowKey(const QString &serial, qint64 time, double ch1, double ch2)
{
    return QStringLiteral("%1@%2 %3 %4")
        .arg(serial)
        .arg(time)
        .arg(QString::number(ch1, 'g', 17), QString::number(ch2, 'g', 17));
}

QString makeCertificates(const QString &dir)
{
    const auto run = [&dir](const QString &command) {
        QProcess shell;
        shell.setWorkingDirectory(dir);
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
        return shell.waitForFinished(60000) && shell.exitCode() == 0;
    };
    const QString ca = QStringLiteral(
        "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=%1 -keyout %1.key -out "
        "%1.pem");
    if (!run(ca.arg(QStringLiteral("ca"))) || !run(ca.arg(QStringLiteral("other-ca"))))
        return QStringLiteral("openssl cannot make a CA");
    if (!run(QStringLiteral("printf 'subjectAltName=DNS:localhost\n' > san.ext && "
                            "openssl req -newkey rsa:2048 -nodes -subj /CN=localhost "
                            "-keyout server.key -out server.csr && "
                            "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key "
                            "-CAcreateserial -days 30 -extfile san.ext -out server.pem")))
        return QStringLiteral("openssl cannot make the server certificate");
    return QString();
}

bool RecordedProject::recordGap()
{
    for (const QString &serial : qAsConst(m_serials)) {
        ++m_rows;
        SerialRecord r;
        r.serialNo = serial;
        r.pointDate = quint32(m_time);
        InsertSerialData::appendRecord(r);
    }
    ++m_time;
    return m_db->insertNow();
}

InfluxServer::~InfluxServer()
{
    stop();
}

QString InfluxServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_httpPort);
}

QString InfluxServer::start(bool auth)
{
    if (QStandardPaths::findExecutable(QStringLiteral("influxd")).isEmpty())
        return QStringLiteral("influxd is not installed");
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder");
    m_auth = auth;
    m_httpPort = TestSupport::freeLoopbackPort();
    m_rpcPort = TestSupport::freeLoopbackPort();
    const QString d = m_dir.path();
    const QByteArray config =
        QStringLiteral(
            "reporting-disabled = true\n"
            "bind-address = \"127.0.0.1:%1\"\n"
            "[meta]\n  dir = \"%3/meta\"\n  logging-enabled = false\n"
            "[data]\n  dir = \"%3/data\"\n  wal-dir = \"%3/wal\"\n  query-log-enabled = false\n"
            "[http]\n  enabled = true\n  bind-address = \"127.0.0.1:%2\"\n  log-enabled = false\n"
            "  auth-enabled = %4\n"
            "[monitor]\n  store-enabled = false\n"
            "[continuous_queries]\n  enabled = false\n"
            "[subscriber]\n  enabled = false\n")
            .arg(m_rpcPort)
            .arg(m_httpPort)
            .arg(d, auth ? QStringLiteral("true") : QStringLiteral("false"))
            .toUtf8();
    if (!writeText(d + QStringLiteral("/influxdb.conf"), config))
        return QStringLiteral("cannot write the influxd configuration");
    return restart();
}

QString InfluxServer::restart()
{
    stop();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("influxd.log")),
                                    QIODevice::Append);
    m_process.start(QStringLiteral("influxd"),
                    {QStringLiteral("-config"), m_dir.filePath(QStringLiteral("influxdb.conf"))});
    if (!m_process.waitForStarted(10000))
        return QStringLiteral("influxd did not start");
    if (!TestSupport::waitForListener(m_httpPort, 30000))
        return QStringLiteral("influxd did not listen on 127.0.0.1:%1").arg(m_httpPort);
    if (m_auth) {
        // The first user may be made without credentials; later starts find it.
        QProcess curl;
        curl.start(QStringLiteral("curl"),
                   {QStringLiteral("-s"), QStringLiteral("-XPOST"),
                    url() + QStringLiteral("/query"), QStringLiteral("--data-urlencode"),
                    QStringLiteral("q=CREATE USER %1 WITH PASSWORD '%2' WITH ALL PRIVILEGES")
                        .arg(QLatin1String(kAdmin), QLatin1String(kAdminPassword))});
        curl.waitForFinished(10000);
    }
    return QString();
}

void InfluxServer::stop()
{
    terminate(m_process);
}

QJsonObject InfluxServer::query(const QString &statement, const QString &database)
{
    QStringList args{QStringLiteral("-s"), QStringLiteral("-XPOST"),
                     url() + QStringLiteral("/query?epoch=s")};
    if (!database.isEmpty())
        args << QStringLiteral("--data-urlencode") << QStringLiteral("db=") + database;
    if (m_auth)
        args << QStringLiteral("-u")
             << QStringLiteral("%1:%2").arg(QLatin1String(kAdmin), QLatin1String(kAdminPassword));
    args << QStringLiteral("--data-urlencode") << QStringLiteral("q=") + statement;
    QProcess curl;
    curl.start(QStringLiteral("curl"), args);
    if (!curl.waitForFinished(30000))
        return QJsonObject();
    return QJsonDocument::fromJson(curl.readAllStandardOutput()).object();
}

QList<QJsonArray> InfluxServer::values(const QString &statement, const QString &database)
{
    QList<QJsonArray> rows;
    const QJsonObject answer = query(statement, database);
    const QJsonArray series = answer.value(QStringLiteral("results"))
                                  .toArray()
                                  .at(0)
                                  .toObject()
                                  .value(QStringLiteral("series"))
                                  .toArray();
    for (const QJsonValue &s : series) {
        for (const QJsonValue &v : s.toObject().value(QStringLiteral("values")).toArray())
            rows << v.toArray();
    }
    return rows;
}

int InfluxServer::write(const QString &database, const QByteArray &lines)
{
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                QStringLiteral("-w"), QStringLiteral("%{http_code}"), QStringLiteral("-XPOST"),
                url() + QStringLiteral("/write?db=") + database, QStringLiteral("--data-binary"),
                QStringLiteral("@-")});
    curl.write(lines);
    curl.closeWriteChannel();
    return curl.waitForFinished(30000) ? curl.readAllStandardOutput().toInt() : 0;
}

QSet<QString> InfluxServer::stored(const QString &database, int *count)
{
    const QList<QJsonArray> rows =
        values(QStringLiteral("SELECT Temperature, Humidity, device FROM quillark"), database);
    QSet<QString> keys;
    for (const QJsonArray &row : rows)
        keys.insert(rowKey(row.at(3).toString(), qint64(row.at(0).toDouble()), row.at(1).toDouble(),
                           row.at(2).toDouble()));
    if (count)
        *count = rows.size();
    return keys;
}

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

QString MosquittoBroker::start(const QString &user, const QString &password,
                               const QString &certificates)
{
    if (QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                       {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")})
            .isEmpty())
        return QStringLiteral("mosquitto is not installed");
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder");
    m_port = TestSupport::freeLoopbackPort();
    const QString d = m_dir.path();
    QByteArray config =
        QStringLiteral("listener %1 127.0.0.1\npersistence true\npersistence_location %2/\n"
                       "log_dest file %2/mosquitto.log\n"
                       "max_queued_messages 1000000\nmax_inflight_messages 0\n")
            .arg(m_port)
            .arg(d)
            .toUtf8();
    if (::getuid() == 0)
        config += "user root\n";
    if (!certificates.isEmpty())
        config +=
            QStringLiteral("cafile %1/ca.pem\ncertfile %1/server.pem\nkeyfile %1/server.key\n")
                .arg(certificates)
                .toUtf8();
    m_passwords = !user.isEmpty();
    if (m_passwords) {
        QProcess passwd;
        passwd.start(QStringLiteral("mosquitto_passwd"),
                     {QStringLiteral("-b"), QStringLiteral("-c"), d + QStringLiteral("/passwords"),
                      user, password});
        if (!passwd.waitForFinished(10000) || passwd.exitCode() != 0)
            return QStringLiteral("mosquitto_passwd failed");
        config += "allow_anonymous false\npassword_file " + d.toUtf8() + "/passwords\n";
    } else {
        config += "allow_anonymous true\n";
    }
    if (!writeText(d + QStringLiteral("/mosquitto.conf"), config))
        return QStringLiteral("cannot write the mosquitto configuration");
    return restart();
}

QString MosquittoBroker::restart()
{
    stop();
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("stdout.log")),
                                    QIODevice::Append);
    m_process.start(program,
                    {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf"))});
    if (!m_process.waitForStarted(10000))
        return QStringLiteral("mosquitto did not start");
    if (!TestSupport::waitForListener(m_port, 20000))
        return QStringLiteral("mosquitto did not listen on 127.0.0.1:%1").arg(m_port);
    return QString();
}

void MosquittoBroker::stop()
{
    terminate(m_process);
}

Subscriber::~Subscriber()
{
    stop();
}

bool Subscriber::start(quint16 port, const QString &topic, const QStringList &extra)
{
    QStringList args{
        QStringLiteral("-h"),
        QStringLiteral("127.0.0.1"),
        QStringLiteral("-p"),
        QString::number(port),
        QStringLiteral("-t"),
        topic,
        QStringLiteral("-q"),
        QStringLiteral("1"),
        QStringLiteral("-v"),
        QStringLiteral("-c"),
        QStringLiteral("-i"),
        QStringLiteral("qk-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(8))};
    args += extra;
    m_process.setReadChannel(QProcess::StandardOutput);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
        m_buffer += m_process.readAllStandardOutput();
        int nl;
        while ((nl = m_buffer.indexOf('\n')) >= 0) {
            m_lines << QString::fromUtf8(m_buffer.left(nl));
            m_buffer.remove(0, nl + 1);
        }
    });
    m_process.start(QStringLiteral("mosquitto_sub"), args);
    if (!m_process.waitForStarted(5000))
        return false;
    return m_process.state() == QProcess::Running;
}

void Subscriber::stop()
{
    terminate(m_process);
}

bool Subscriber::waitReady(quint16 port, const QString &probeTopic)
{
    for (int i = 0; i < 100; ++i) {
        QProcess::execute(QStringLiteral("mosquitto_pub"),
                          {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                           QString::number(port), QStringLiteral("-t"), probeTopic,
                           QStringLiteral("-m"), QStringLiteral("probe")});
        QTest::qWait(100);
        bool seen = false;
        for (int j = m_lines.size() - 1; j >= 0; --j) {
            if (m_lines[j].startsWith(probeTopic + QLatin1Char(' '))) {
                m_lines.removeAt(j);
                seen = true;
            }
        }
        if (seen)
            return true;
    }
    return false;
}

QStringList Subscriber::lines()
{
    return m_lines;
}

QSet<QString> Subscriber::rows(int *count)
{
    QSet<QString> keys;
    int messages = 0;
    for (const QString &line : qAsConst(m_lines)) {
        const int space = line.indexOf(QLatin1Char(' '));
        const QJsonObject o = QJsonDocument::fromJson(line.mid(space + 1).toUtf8()).object();
        if (!o.contains(QStringLiteral("id")))
            continue; // a live value, the availability
        const QJsonArray channels = o.value(QStringLiteral("channels")).toArray();
        const auto value = [&](int i) {
            return (channels.isEmpty() ? o.value(QStringLiteral("ch%1").arg(i + 1))
                                       : channels.at(i).toObject().value(QStringLiteral("value")))
                .toDouble();
        };
        keys.insert(rowKey(o.value(QStringLiteral("device")).toString(),
                           qint64(o.value(QStringLiteral("time")).toDouble()), value(0), value(1)));
        ++messages;
    }
    if (count)
        *count = messages;
    return keys;
}

bool FakeHttpServer::start()
{
    m_server = new QTcpServer(this);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        return false;
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        }
    });
    return true;
}

quint16 FakeHttpServer::port() const
{
    return m_server->serverPort();
}

QString FakeHttpServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void FakeHttpServer::serve(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    for (;;) {
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            break;
        Request request;
        const QList<QByteArray> head = buffer.left(end).split('\n');
        const QList<QByteArray> first = head.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        for (int i = 1; i < head.size(); ++i) {
            const int colon = head[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(head[i].left(colon).trimmed().toLower(),
                                       head[i].mid(colon + 1).trimmed());
        }
        const int length = request.headers.value("content-length").toInt();
        if (buffer.size() < end + 4 + length)
            break;
        request.body = buffer.mid(end + 4, length);
        buffer.remove(0, end + 4 + length);
        m_requests << request;
        if (m_status == 0)
            continue; // never answered
        if (m_status >= 200 && m_status < 300) {
            for (const QByteArray &line : request.body.split('\n')) {
                if (!line.isEmpty())
                    m_accepted << line;
            }
        }
        socket->write("HTTP/1.1 " + QByteArray::number(m_status) +
                      " X\r\nContent-Type: application/json\r\n"
                      "Content-Length: " +
                      QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
    }
    socket->setProperty("buffer", buffer);
}

} // namespace ForwardTest
