// The main window and its project file as a user meets them: what a load
// leaves out and a missing interval are told, a file that cannot be saved
// is told once and read as it is on disk, a bad file says why, and names
// from the file are shown literally everywhere.
#include "app/projectfile.h"
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "common/common.h"
#include "common/projectdocument.h"
#include "device/nodedevice.h"
#include "project/projectmanager.h"
#include "projectfixture.h"
#include "testsupport.h"
#include "view/projectcenter.h"

#include <QAction>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QSettings>
#include <QTextDocument>
#include <QToolButton>
#include <QtTest>

#include <unistd.h>

namespace
{

// One connection on a closed loopback port (nothing answers; the window only
// needs the names) holding `nodes` as JSON texts.
QByteArray deviceList(const QList<QByteArray> &nodes)
{
    QByteArray json =
        R"({"devices":[{"DeviceInterface":"127.0.0.1","DevicePort":"9","DeviceModel":"QA100","nodes":[)";
    for (int i = 0; i < nodes.size(); ++i)
        json += (i ? "," : "") + nodes.at(i);
    return json + "]}]}";
}

QByteArray node(int start, const QString &name, const QString &id, const QString &ch1 = "CH1",
                const QString &unit = QString())
{
    const QJsonObject entry{{"StartAddress", QString::number(start)},
                            {"DeviceName", name},
                            {"DeviceNumber", id},
                            {"Ch1Name", ch1},
                            {"Ch2Name", "CH2"},
                            {"ch1_unit", "4"},
                            {"ch1_custom", unit},
                            {"ch1_min", "-10.00"},
                            {"ch1_max", "10.00"},
                            {"ch2_min", "0.00"},
                            {"ch2_max", "100.00"}};
    return QJsonDocument(entry).toJson(QJsonDocument::Compact);
}

bool makeProject(const QString &path, const QVariant &interval, const QByteArray &json)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue("projectName", QFileInfo(path).completeBaseName());
    if (interval.isValid())
        settings.setValue("DataInterval", interval);
    settings.setValue("databaseName", QFileInfo(path).completeBaseName() + ".dat");
    settings.setValue("DeviceList", json);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

// What a tool tip shows: rich text where Qt takes it for such.
QString shownToolTip(const QString &tip)
{
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

} // namespace

class tst_QuillarkMainProject : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void leftOutAndIntervalTold_data();
    void leftOutAndIntervalTold();
    void failedSaveToldOnce();
    void namesShownLiterally();

private:
    void load(const QString &path)
    {
        emit m_window->findChild<ProjectMain *>()->projectLoaded(path);
    }

    QTemporaryDir m_settings;
    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<QuillarkMain> m_window;
};

void tst_QuillarkMainProject::initTestCase()
{
    TestSupport::isolateSettingsIn(m_settings.path());
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.*.warning=false"));
}

void tst_QuillarkMainProject::init()
{
    m_dir.reset(new QTemporaryDir);
    m_window.reset(new QuillarkMain);
    m_window->show();
}

void tst_QuillarkMainProject::cleanup()
{
    m_window.reset();
    // A test that failed half way may have left a file locked.
    if (geteuid() == 0)
        QProcess::execute("chattr", {"-R", "-i", m_dir->path()});
    dataIntervalMs = kDefaultDataIntervalMs;
}

// A load that leaves devices out (bad start address, an ID used twice) or
// finds no usable interval says so in one message, and the file keeps its interval
// through an Add/Delete confirmation.
void tst_QuillarkMainProject::leftOutAndIntervalTold_data()
{
    QTest::addColumn<QVariant>("interval");
    QTest::addColumn<int>("devices"); // in the file, at 0, 8, ...; a 17th is over the limit
    QTest::addColumn<QString>("message");
    const QString none = "The project file gives no data interval; the project runs at 10 sec.";
    QTest::newRow("all fine") << QVariant(1000) << 3 << QString();
    QTest::newRow("no interval") << QVariant() << 3 << "INFORMATION|" + none;
    QTest::newRow("interval abc")
        << QVariant("abc") << 3
        << "INFORMATION|The data interval \"abc\" of the project file is not one the "
           "program offers; the project runs at 10 sec.";
    QTest::newRow("bad address, no interval")
        << QVariant() << -1
        << "WARNING|Some entries of the project file were left out:\n- Device \"Odd\" (ID 0x10) "
           "under 127.0.0.1:9: "
           "its \"StartAddress\" \"0x10\" is not a whole number from 0 to 106.\n\n" +
               none;
    QTest::newRow("two devices, one ID")
        << QVariant(1000) << -2
        << "WARNING|Some entries of the project file were left out:\n- Device \"Twin\" (ID ID1) "
           "under 127.0.0.1:9: its \"DeviceNumber\" \"ID1\" is already used by another device "
           "of the project.";
}

void tst_QuillarkMainProject::leftOutAndIntervalTold()
{
    QFETCH(QVariant, interval);
    QFETCH(int, devices);
    QFETCH(QString, message);
    QList<QByteArray> nodes;
    for (int i = 0; i < qAbs(devices); ++i)
        nodes << node(i * 8, QStringLiteral("D%1").arg(i), QStringLiteral("ID%1").arg(i));
    if (devices == -1)
        nodes << QByteArray(R"({"StartAddress":"0x10","DeviceName":"Odd","DeviceNumber":"0x10"})");
    if (devices == -2)
        nodes << node(16, QStringLiteral("Twin"), QStringLiteral("ID1"));
    const QString path = m_dir->filePath("plant.qlk");
    QVERIFY(makeProject(path, interval, deviceList(nodes)));
    load(path);
    QVERIFY(m_window->findChild<ProjectCenter *>());
    QCOMPARE(TestSupport::shownMessages(m_window.data()),
             message.isEmpty() ? QStringList() : QStringList{message});
    const bool usable = isValidDataInterval(interval.toInt());
    QCOMPARE(dataIntervalMs, usable ? interval.toInt() : kDefaultDataIntervalMs);

    // Add/Delete and confirm: the device list is rewritten, the interval the
    // user never chose is not.
    m_window->menuAction("actionAddDelete")->trigger();
    auto *editor = m_window->findChild<ProjectManager *>();
    QVERIFY(editor);
    emit editor->findChild<QToolButton *>("btn_confirm")->clicked();
    QTRY_VERIFY(m_window->findChild<ProjectCenter *>());
    QSettings stored(path, QSettings::IniFormat);
    QCOMPARE(stored.value("DataInterval"),
             interval.isValid() ? QVariant(interval.toString()) : QVariant());
    ProjectDocument document;
    QVERIFY(document.load(path));
    QCOMPARE(document.nodes().size(), qAbs(devices));
}

// A read-only project file: the user is told once (with the reason); once
// writable again the next save goes through and a later failure is told
// again. (What the file holds meanwhile is the project file test's.)
void tst_QuillarkMainProject::failedSaveToldOnce()
{
    const QString path = m_dir->filePath("locked.qlk");
    QVERIFY(makeProject(path, 1000, deviceList({node(0, "Freezer", "F1")})));
    load(path);
    auto *center = m_window->findChild<ProjectCenter *>();
    QVERIFY(center && TestSupport::shownMessages(m_window.data()).isEmpty());
    auto lock = [&](bool locked) { return TestSupport::setWritable(path, !locked); };
    if (!lock(true))
        QSKIP("no way to make a file read-only here");
    emit center->updateProjectFile();
    emit center->updateProjectFile();
    emit center->clickRecord(); // start: writes "record_start_time"
    emit center->clickRecord(); // stop
    const QString told =
        "ERROR|The project file could not be saved:\n" + QDir::toNativeSeparators(path) +
        "\nThe file is read-only.\nThe changes are kept only until the project is closed.";
    QCOMPARE(TestSupport::shownMessages(m_window.data()), QStringList{told});

    QVERIFY(lock(false));
    emit center->updateProjectFile();
    QVERIFY(QSettings(path, QSettings::IniFormat).contains("Backup"));
    QVERIFY(lock(true));
    emit center->updateProjectFile();
    QVERIFY(lock(false));
    QCOMPARE(TestSupport::shownMessages(m_window.data()), (QStringList{told, told}));
}

// Names that look like markup are shown as typed: in the tiles, the device
// list, the chart view, tool tips and messages. An image named by a name is
// never loaded, "<b>" is never bold.
void tst_QuillarkMainProject::namesShownLiterally()
{
    const QString image = m_dir->filePath("big.png");
    QImage big(300, 300, QImage::Format_RGB32);
    big.fill(Qt::red);
    QVERIFY(big.save(image));
    const QString bold = "<b>Freezer</b> with a name long enough to be cut in a tile";
    const QString img = "<img src=\"" + image + "\">";
    const QString path = m_dir->filePath("markup.qlk");
    QVERIFY(makeProject(
        path, 1000,
        deviceList({node(0, bold, "<i>ID</i>", img, "<u>u</u>"), node(8, "Plain", "P2"),
                    QByteArray(R"({"StartAddress":"x","DeviceName":"<b>left out</b>"})")})));
    QSettings(path, QSettings::IniFormat).setValue("projectName", "<b>P</b>");
    load(path);
    QVERIFY(m_window->findChild<ProjectCenter *>());
    QCoreApplication::processEvents();

    int marked = 0;
    for (QLabel *label : m_window->findChildren<QLabel *>()) {
        const QString text = label->text();
        if (!text.contains('<'))
            continue;
        ++marked;
        QVERIFY2(label->textFormat() == Qt::PlainText || !Qt::mightBeRichText(text),
                 qPrintable(text));
        QVERIFY2(label->sizeHint().height() < 100, qPrintable(text));
        if (!label->toolTip().isEmpty())
            QVERIFY(QStringList({bold, img}).contains(shownToolTip(label->toolTip())));
    }
    QVERIFY(marked >= 4);
    for (QListWidget *list : m_window->findChildren<QListWidget *>()) {
        for (int i = 0; i < list->count(); ++i) {
            const QString tip = list->item(i)->toolTip();
            if (tip.contains('<'))
                QCOMPARE(shownToolTip(tip), QStringLiteral("<i>ID</i>"));
        }
    }
    const QStringList shown = TestSupport::shownMessages(m_window.data());
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.at(0).contains("Device \"<b>left out</b>\" (ID )"), qPrintable(shown.at(0)));
}

QTEST_MAIN(tst_QuillarkMainProject)
#include "tst_quillarkmainproject.moc"
