#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "common/projectdocument.h"
#include "forward/forwarder.h"
#include "forward/forwardingdialog.h"
#include "forwardservers.h"
#include "gatewayfixture.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

using namespace ForwardTest;

// The "Forwarding" dialog as a user drives it, and the recorder forwarding
// what it records from a simulated gateway to a real broker.
class tst_ForwardingDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void testsThenSavesAndKeepsTheFilePrivate();
    void badSettingsAreRefusedWithAMessage_data();
    void badSettingsAreRefusedWithAMessage();
    void stateText_data();
    void stateText();
    void recorderForwardsRecordedAndLiveSamples();

private:
    static void type(ForwardingDialog *dialog, const char *name, const QString &text);
    static QString text(QWidget *parent, const char *name)
    {
        return parent->findChild<QLabel *>(name)->text();
    }

    MosquittoBroker m_broker;
};

void tst_ForwardingDialog::initTestCase()
{
    TestSupport::isolateSettings();
    ForwardTarget::setRetryDelays(1000, 2000);
    QCOMPARE(m_broker.start(), QString());
}

void tst_ForwardingDialog::type(ForwardingDialog *dialog, const char *name, const QString &text)
{
    auto *edit = dialog->findChild<QLineEdit *>(name);
    QVERIFY2(edit, name);
    edit->clear();
    QTest::keyClicks(edit, text);
}

void tst_ForwardingDialog::testsThenSavesAndKeepsTheFilePrivate()
{
    RecordedProject project(2);
    QVERIFY(project.isValid());
    // Fresh file objects each time: a QFile keeps what it once read of the file.
    auto permissions = [&] { return QFile(project.path()).permissions(); };
    QVERIFY(
        QFile(project.path()).setPermissions(permissions() | QFile::ReadGroup | QFile::ReadOther));
    Forwarder forwarder(project.path());
    ForwardingDialog dialog(&forwarder);
    dialog.setAttribute(Qt::WA_DeleteOnClose, false);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *influxState = dialog.findChild<QPlainTextEdit *>("plainTextEdit_influx_state");
    QCOMPARE(influxState->toPlainText(), QStringLiteral("Off."));
    QCOMPARE(dialog.findChild<QLineEdit *>("lineEdit_mqtt_prefix")->text(),
             QStringLiteral("quillark"));
    QCOMPARE(dialog.findChild<QLineEdit *>("lineEdit_influx_password")->echoMode(),
             QLineEdit::Password);

    const TestSupport::DeadPort deadPort;
    const QString deadUrl = QStringLiteral("http://127.0.0.1:%1").arg(deadPort.port());
    type(&dialog, "lineEdit_influx_url", deadUrl);
    type(&dialog, "lineEdit_influx_database", QStringLiteral("plant"));
    type(&dialog, "lineEdit_influx_user", QStringLiteral("writer"));
    type(&dialog, "lineEdit_influx_password", QStringLiteral("pa ss=word"));
    type(&dialog, "lineEdit_mqtt_host", QStringLiteral("127.0.0.1"));
    dialog.findChild<QSpinBox *>("spinBox_mqtt_port")->setValue(m_broker.port());
    auto *test = dialog.findChild<QPushButton *>("btn_test");
    QTest::mouseClick(test, Qt::LeftButton);
    QVERIFY(!test->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(test->isEnabled(), 20000);
    const QString result = text(&dialog, "label_test_result");
    QVERIFY2(result.contains(QStringLiteral("InfluxDB: FAILED - InfluxDB at %1 refused the "
                                            "connection")
                                 .arg(deadUrl)),
             qPrintable(result));
    QVERIFY2(result.contains(
                 QStringLiteral("MQTT: The MQTT broker 127.0.0.1:%1 accepted the connection.")
                     .arg(m_broker.port())),
             qPrintable(result));
    // Testing stores nothing; a changed field makes the result void.
    QVERIFY(!ForwardSettings::load(project.path()).mqttEnabled());
    type(&dialog, "lineEdit_mqtt_prefix", QStringLiteral("site/north"));
    QCOMPARE(text(&dialog, "label_test_result"), QString());

    dialog.findChild<QComboBox *>("comboBox_mqtt_payload")->setCurrentIndex(1);
    QTest::mouseClick(dialog.findChild<QPushButton *>("btn_save"), Qt::LeftButton);
    const ForwardSettings stored = ForwardSettings::load(project.path());
    QCOMPARE(stored.influxUrl, deadUrl);
    QCOMPARE(stored.influxDatabase, QStringLiteral("plant"));
    QCOMPARE(stored.influxPassword, QStringLiteral("pa ss=word"));
    QCOMPARE(stored.mqttPort, int(m_broker.port()));
    QCOMPARE(stored.mqttPrefix, QStringLiteral("site/north"));
    QVERIFY(stored.mqttFlat);
    // The rest of the project is untouched.
    ProjectDocument doc;
    QVERIFY(doc.load(project.path()));
    QCOMPARE(doc.nodes().size(), 2);
    QCOMPARE(doc.projectName, QStringLiteral("site"));

    const QFile::Permissions others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QCOMPARE(permissions() & others, QFile::Permissions());
    QVERIFY(text(&dialog, "label_secret_note").contains(QLatin1String("owner only (mode 600)")));
    QVERIFY(forwarder.isEnabled(Forwarder::Influx) && forwarder.isEnabled(Forwarder::Mqtt));
    QTRY_VERIFY_WITH_TIMEOUT(influxState->toPlainText().contains(QLatin1String("Last error")),
                             20000);

    // A later rewrite of the project file by the recorder keeps it private.
    {
        QSettings rewrite(project.path(), QSettings::IniFormat);
        rewrite.setValue(QStringLiteral("record_start_time"),
                         QStringLiteral("2026-01-01 00:00:00"));
    }
    QCOMPARE(ForwardSettings::load(project.path()).influxPassword, QStringLiteral("pa ss=word"));
    QCOMPARE(permissions() & others, QFile::Permissions());
    // Then rewritten elsewhere to the same size within the same millisecond:
    // saving again keeps that change.
    const QDateTime stamp = QFileInfo(project.path()).lastModified();
    QFile file(project.path());
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray changed = file.readAll().replace("2026-01-01", "2026-01-02");
    QVERIFY(file.seek(0) && file.write(changed) == changed.size() && file.flush());
    QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
    file.close();
    QVERIFY(dialog.save());
    QVERIFY(doc.load(project.path()));
    QCOMPARE(doc.recordStartTime, QStringLiteral("2026-01-02 00:00:00"));

    // The project closes while a test still waits for an answer: no harm.
    FakeHttpServer silent;
    QVERIFY(silent.start());
    silent.setStatus(0);
    type(&dialog, "lineEdit_influx_url", silent.url());
    QTest::mouseClick(test, Qt::LeftButton);
    QTRY_VERIFY(!silent.requests().isEmpty());
    auto *closing = new Forwarder(project.path());
    closing->testConnection(Forwarder::Influx, dialog.fieldSettings());
    delete closing;
}

void tst_ForwardingDialog::badSettingsAreRefusedWithAMessage_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("scheme")
        << "lineEdit_influx_url"
        << "ftp://host:8086"
        << "The InfluxDB address must look like http://host:8086 (or https://).";
    QTest::newRow("credentials in address")
        << "lineEdit_influx_url"
        << "http://u:p@host:8086"
        << "Put the InfluxDB user and password in their own fields, not in the address.";
    QTest::newRow("2.x without bucket") << "lineEdit_influx_org"
                                        << "acme"
                                        << "InfluxDB 2.x needs a bucket.";
    QTest::newRow("topic wildcard") << "lineEdit_mqtt_prefix"
                                    << "site/#"
                                    << "The MQTT topic prefix must not contain + or #.";
    QTest::newRow("host with port")
        << "lineEdit_mqtt_host"
        << "broker:1883"
        << "The MQTT host must be a host name or an IP address, without port or scheme.";
    QTest::newRow("missing CA file") << "lineEdit_mqtt_cafile"
                                     << "/nonexistent/ca.pem"
                                     << "The CA file \"/nonexistent/ca.pem\" cannot be read.";
    QTest::newRow("read-only project") << ""
                                       << ""
                                       << "The file is read-only.";
}

void tst_ForwardingDialog::badSettingsAreRefusedWithAMessage()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, message);
    RecordedProject project(1);
    QVERIFY(project.isValid());
    Forwarder forwarder(project.path());
    QWidget parent;
    auto *dialog = new ForwardingDialog(&forwarder, &parent);
    // Otherwise valid settings for both targets.
    type(dialog, "lineEdit_influx_url", QStringLiteral("http://127.0.0.1:8086"));
    type(dialog, "lineEdit_influx_database", QStringLiteral("plant"));
    type(dialog, "lineEdit_mqtt_host", QStringLiteral("127.0.0.1"));
    const QByteArray before = TestSupport::fileDigest(project.path());
    if (!field.isEmpty())
        type(dialog, qPrintable(field), value);
    else if (!TestSupport::setWritable(project.path(), false))
        QSKIP("no way to make a file read-only here");
    const bool saved = dialog->save();
    QVERIFY(TestSupport::setWritable(project.path(), true) && !saved);
    const QStringList shown = TestSupport::shownMessages(dialog);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(field.isEmpty() ? "ERROR|" : "WARNING|"),
             qPrintable(shown.first()));
    QVERIFY2(shown.first().section('|', 1).split(QLatin1Char('\n')).contains(message),
             qPrintable(shown.first()));
    // Nothing was stored.
    QCOMPARE(TestSupport::fileDigest(project.path()), before);
    QVERIFY(!ForwardSettings::load(project.path()).influxEnabled());
    QVERIFY(!forwarder.isEnabled(Forwarder::Influx));
}

void tst_ForwardingDialog::stateText_data()
{
    QTest::addColumn<ForwardState>("state");
    QTest::addColumn<QString>("text");
    ForwardState state;
    state.enabled = true;
    QTest::newRow("fresh") << state << "Not connected.\nNothing delivered yet.\nBacklog: 0 rows.";
    state.connected = true;
    state.lastId = 81;
    state.lastTime = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)).toSecsSinceEpoch();
    state.backlog = 7200;
    state.backlogSeconds = 7500;
    state.rejected = 3;
    state.rejectReason = QStringLiteral("InfluxDB answered HTTP 400: bad");
    state.lastError = QString(300, QLatin1Char('x'));
    QTest::newRow("behind") << state
                            << "Connected.\nDelivered up to 2026-01-02 03:04:05 (row 81).\n"
                               "Backlog: 7200 rows, 2 h 5 min.\nRows refused: 3; the first: "
                               "InfluxDB answered HTTP 400: bad\nLast error: " +
                                   QString(300, QLatin1Char('x'));
}

void tst_ForwardingDialog::stateText()
{
    QFETCH(ForwardState, state);
    QFETCH(QString, text);
    QCOMPARE(ForwardingDialog::stateText(state), text);
}

void tst_ForwardingDialog::recorderForwardsRecordedAndLiveSamples()
{
    InsertSerialData::clearQueue();
    GatewaySimulator sim(TestSupport::frozenGateway(2));
    QVERIFY(sim.start());
    sim.setDeviceValues(0, 21.5f, 48.25f, 90, 100);
    sim.setDeviceValues(1, -3.75f, 61.5f, 90, 100);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.qlk"));
    QVERIFY(TestSupport::writeProject(path, 1000, {sim.serverPort()}, 2));
    ProjectDocument doc;
    QVERIFY(doc.load(path));
    const QString serial0 = doc.nodes().at(0).deviceNumber;
    ForwardSettings s;
    s.mqttHost = QStringLiteral("127.0.0.1");
    s.mqttPort = m_broker.port();
    s.mqttPrefix = QStringLiteral("qk");
    s.mqttFlat = true;
    // An InfluxDB that is not there: the status strip says so.
    const TestSupport::DeadPort noInflux;
    s.influxUrl = QStringLiteral("http://127.0.0.1:%1").arg(noInflux.port());
    s.influxDatabase = QStringLiteral("plant");
    QVERIFY(s.save(path));
    Subscriber subscriber;
    QVERIFY(subscriber.start(m_broker.port(), QStringLiteral("qk/#"), QStringLiteral("qk/probe")));

    QuillarkMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(!w.menuAction(QStringLiteral("actionForwarding"))->isEnabled());
    emit w.findChild<ProjectMain *>()->projectLoaded(path);
    QVERIFY(w.menuAction(QStringLiteral("actionForwarding"))->isEnabled());

    // Live values go out while nothing is recorded.
    const QString liveTopic = QStringLiteral("qk/line/%1/live ").arg(serial0);
    QTRY_VERIFY_WITH_TIMEOUT(!subscriber.lines().filter(liveTopic).isEmpty(), 20000);
    QVERIFY(subscriber.lines().contains(QStringLiteral("qk/line/availability online")));
    auto *status = w.findChild<QLabel *>(QStringLiteral("label_forward_state"));
    QVERIFY(status);
    QTRY_VERIFY_WITH_TIMEOUT(status->isVisible(), 20000);
    QCOMPARE(status->text(), QStringLiteral("Forwarding fails: InfluxDB"));
    QVERIFY(status->toolTip().startsWith(QLatin1String("InfluxDB: InfluxDB at")));

    w.menuAction(QStringLiteral("actionForwarding"))->trigger();
    auto *dialog = w.findChild<ForwardingDialog *>();
    QVERIFY(dialog && dialog->isVisible());

    // Record a few samples: each recorded row reaches the broker.
    QVERIFY(QMetaObject::invokeMethod(&w, "slotStartRecord"));
    const QString recordedTopic = QStringLiteral("qk/line/%1 ").arg(serial0);
    QTRY_VERIFY_WITH_TIMEOUT(subscriber.lines().filter(recordedTopic).size() >= 3, 30000);
    QVERIFY(QMetaObject::invokeMethod(&w, "slotStopRecord"));
    QSet<QString> recorded;
    for (const QVariantList &row : TestSupport::sqlRows(
             doc.databasePath(),
             QStringLiteral("select serialno, channel1, channel2, pointDate from fennolink")))
        recorded.insert(rowKey(row.at(0).toString(), row.at(3).toLongLong(), row.at(1).toDouble(),
                               row.at(2).toDouble()));
    QVERIFY(recorded.size() >= 6);
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.rows(), recorded, 30000);

    // Closing the project ends its forwarding, told as offline, and its
    // dialog; the newest live value stays for a subscriber that comes later.
    QVERIFY(QMetaObject::invokeMethod(&w, "slotCloseProject"));
    QVERIFY(!w.findChild<Forwarder *>());
    QVERIFY(!w.findChild<ForwardingDialog *>());
    QTRY_VERIFY_WITH_TIMEOUT(
        subscriber.lines().contains(QStringLiteral("qk/line/availability offline")), 20000);
    Subscriber late;
    QVERIFY(late.start(m_broker.port(), liveTopic.trimmed()));
    QTRY_COMPARE_WITH_TIMEOUT(late.lines().size(), 1, 20000);
    QCOMPARE(late.lines().first(), subscriber.lines().filter(liveTopic).last());

    // The next project is forwarded with its own settings.
    RecordedProject next(2);
    QVERIFY(next.isValid() && next.record(30));
    s.influxDatabase = QStringLiteral("next");
    QVERIFY(s.save(next.path()));
    emit w.findChild<ProjectMain *>()->projectLoaded(next.path());
    QCOMPARE(w.findChild<Forwarder *>()->projectPath(), next.path());
    w.menuAction(QStringLiteral("actionForwarding"))->trigger();
    QCOMPARE(w.findChild<ForwardingDialog *>()->fieldSettings().influxDatabase,
             QStringLiteral("next"));
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.rows(), recorded + next.expected(), 30000);
}

QTEST_MAIN(tst_ForwardingDialog)
#include "tst_forwardingdialog.moc"
