#include "forwardservers.h"

#include "app/projectfile.h"
#include "common/projectdocument.h"
#include "device/configureddevice.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QUuid>

#include <unistd.h>

namespace ForwardTest
{

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
            const SerialRecord r{serial, m_rows / 4.0, -double(m_rows), quint32(m_time)};
            InsertSerialData::appendRecord(r);
            m_expected.insert(rowKey(serial, m_time, r.channel1, r.channel2));
        }
        ++m_time;
    }
    return m_db->insertNow();
}

bool RecordedProject::rename(const QList<QStringList> &names)
{
    ProjectDocument doc;
    if (!doc.load(m_path) || names.size() > doc.connections.at(0).nodes.size())
        return false;
    for (int n = 0; n < names.size(); ++n) {
        ProjectDocument::Node &node = doc.connections[0].nodes[n];
        node.deviceName = names[n].at(0);
        node.ch1Name = names[n].value(1, node.ch1Name);
    }
    const QList<ConfiguredDevice *> devices = ProjectFile::build(doc.connections);
    const bool written = ProjectFile::write(devices, m_path);
    qDeleteAll(devices);
    return written;
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
    QProcess shell;
    shell.setWorkingDirectory(dir);
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.start(QStringLiteral("sh"),
                {QStringLiteral("-ec"),
                 QStringLiteral(
                     "for ca in ca other-ca; do openssl req -x509 -newkey rsa:2048 -nodes -days 30"
                     " -subj /CN=$ca -keyout $ca.key -out $ca.pem; done\n"
                     "printf 'subjectAltName=DNS:localhost\\n' > san.ext\n"
                     "printf 'not a certificate\\n' > garbage.pem\n"
                     "openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key"
                     " -out server.csr\n"
                     "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
                     " -days 30 -extfile san.ext -out server.pem\n")});
    if (shell.waitForFinished(120000) && shell.exitCode() == 0)
        return QString();
    return QStringLiteral("openssl cannot make the certificates: ") + shell.readAll();
}

QString ServerProcess::launch(const QString &program, const QString &option,
                              const QByteArray &config)
{
    m_program = QStandardPaths::findExecutable(
        program, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (m_program.isEmpty())
        return program + QStringLiteral(" is not installed");
    QFile file(m_dir.filePath(QStringLiteral("server.conf")));
    if (!m_dir.isValid() || !file.open(QIODevice::WriteOnly) ||
        file.write(config) != config.size() || !file.flush())
        return QStringLiteral("cannot write the configuration of ") + program;
    m_arguments = QStringList{option, file.fileName()};
    return restart();
}

QString ServerProcess::restart()
{
    stop();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("server.log")),
                                    QIODevice::Append);
    m_process.start(m_program, m_arguments);
    if (!m_process.waitForStarted(10000))
        return m_program + QStringLiteral(" did not start");
    if (!TestSupport::waitForListener(m_port, 30000))
        return m_program + QStringLiteral(" did not listen on 127.0.0.1:%1").arg(m_port);
    return QString();
}

void ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString InfluxServer::start(bool auth)
{
    m_port = TestSupport::freeLoopbackPort();
    const QString d = m_dir.path();
    const QString error = launch(
        QStringLiteral("influxd"), QStringLiteral("-config"),
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
            .arg(TestSupport::freeLoopbackPort())
            .arg(m_port)
            .arg(d, auth ? QStringLiteral("true") : QStringLiteral("false"))
            .toUtf8());
    // The first user may be made without credentials.
    if (error.isEmpty() && auth)
        curl({QStringLiteral("--data-urlencode"),
              QStringLiteral("q=CREATE USER %1 WITH PASSWORD '%2' WITH ALL PRIVILEGES")
                  .arg(QLatin1String(kAdmin), QLatin1String(kAdminPassword)),
              url() + QStringLiteral("/query")});
    m_auth = auth;
    return error;
}

QByteArray InfluxServer::curl(QStringList arguments, const QByteArray &input)
{
    if (m_auth)
        arguments << QStringLiteral("-u")
                  << QStringLiteral("%1:%2").arg(QLatin1String(kAdmin),
                                                 QLatin1String(kAdminPassword));
    QProcess curl;
    curl.start(QStringLiteral("curl"), QStringList{QStringLiteral("-s")} + arguments);
    curl.write(input);
    curl.closeWriteChannel();
    return curl.waitForFinished(30000) ? curl.readAllStandardOutput() : QByteArray();
}

QJsonObject InfluxServer::query(const QString &statement, const QString &database)
{
    QStringList args{url() + QStringLiteral("/query?epoch=s"), QStringLiteral("--data-urlencode"),
                     QStringLiteral("q=") + statement};
    if (!database.isEmpty())
        args << QStringLiteral("--data-urlencode") << QStringLiteral("db=") + database;
    return QJsonDocument::fromJson(curl(args)).object();
}

QList<QJsonArray> InfluxServer::values(const QString &statement, const QString &database)
{
    QList<QJsonArray> rows;
    const QJsonValue result = query(statement, database).value("results").toArray().at(0);
    for (const QJsonValue &s : result.toObject().value(QStringLiteral("series")).toArray()) {
        for (const QJsonValue &v : s.toObject().value(QStringLiteral("values")).toArray())
            rows << v.toArray();
    }
    return rows;
}

int InfluxServer::write(const QString &database, const QByteArray &lines)
{
    return curl({QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-w"),
                 QStringLiteral("%{http_code}"), QStringLiteral("--data-binary"),
                 QStringLiteral("@-"), url() + QStringLiteral("/write?db=") + database},
                lines)
        .toInt();
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

QString MosquittoBroker::start(const QString &user, const QString &password,
                               const QString &certificates)
{
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
    config += "allow_anonymous true\n";
    if (!user.isEmpty()) {
        const QString passwords = d + QStringLiteral("/passwords");
        if (QProcess::execute(
                QStringLiteral("mosquitto_passwd"),
                {QStringLiteral("-b"), QStringLiteral("-c"), passwords, user, password}) != 0)
            return QStringLiteral("mosquitto_passwd failed");
        config.replace("allow_anonymous true",
                       "allow_anonymous false\npassword_file " + passwords.toUtf8());
    }
    return launch(QStringLiteral("mosquitto"), QStringLiteral("-c"), config);
}

Subscriber::~Subscriber()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool Subscriber::start(quint16 port, const QString &topic, const QString &probeTopic)
{
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
        m_buffer += m_process.readAllStandardOutput();
        for (int nl; (nl = m_buffer.indexOf('\n')) >= 0; m_buffer.remove(0, nl + 1))
            m_lines << QString::fromUtf8(m_buffer.left(nl));
    });
    const QString id = QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString host = QStringLiteral("-h 127.0.0.1 -p %1 ").arg(port);
    m_process.start(QStringLiteral("mosquitto_sub"),
                    (host + QStringLiteral("-q 1 -v -c -i qk-test-") + id).split(' ') +
                        QStringList{QStringLiteral("-t"), topic});
    if (!m_process.waitForStarted(5000) || m_process.state() != QProcess::Running)
        return false;
    for (int i = 0; !probeTopic.isEmpty() && i < 100; ++i) {
        QProcess::execute(QStringLiteral("mosquitto_pub"),
                          (host + QStringLiteral("-m probe -t")).split(' ') << probeTopic);
        QTest::qWait(100);
        const int before = m_lines.size();
        m_lines = m_lines.filter(QRegularExpression(
            QStringLiteral("^(?!%1 )").arg(QRegularExpression::escape(probeTopic))));
        if (m_lines.size() < before)
            return true;
    }
    return probeTopic.isEmpty();
}

QSet<QString> Subscriber::rows(int *count) const
{
    QSet<QString> keys;
    int messages = 0;
    for (const QString &line : m_lines) {
        const QJsonObject o = QJsonDocument::fromJson(line.section(' ', 1).toUtf8()).object();
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
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        }
    });
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void FakeHttpServer::serve(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    for (int end; (end = buffer.indexOf("\r\n\r\n")) >= 0;) {
        Request request;
        const QList<QByteArray> head = buffer.left(end).split('\n');
        request.target = head.value(0).split(' ').value(1);
        for (const QByteArray &line : head.mid(1)) {
            const int colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(),
                                       line.mid(colon + 1).trimmed());
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
                      " X\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
    }
    socket->setProperty("buffer", buffer);
}

} // namespace ForwardTest
