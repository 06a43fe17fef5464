#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include "common/common.h"
#include "common/messagedialog.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "project/projectmanager.h"
#include "project/treemodel.h"

Q_DECLARE_METATYPE(QList<ConfiguredDevice *>)

namespace
{
const QString kDefaultAddress = "192.168.1.2:502";
const QString kAddressMessage =
    "ERROR|IP Address & Port Number format is not valid.\nPlease retry.";
const QString kStartMessage = "ERROR|The maximum value of the start address is 106.";
const QString kEraseQuestion =
    "Question|Erasing the device may result in loss of data.\n Are you sure?";
const QString kNoDeviceMessage = "INFORMATION|You must select at least one device.\nPlease retry.";
} // namespace

// The project editor driven through its model and with QTest as a user would,
// and its tree model on its own.
class tst_ProjectManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProjectManager> m_editor;
    TreeModel *m_model = nullptr;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    QStringList m_messages;
    QMessageBox::StandardButton m_answer = QMessageBox::No;
    QStringList m_questions;

    QTreeView *view() const { return m_editor->findChild<QTreeView *>("treeView"); }
    QPushButton *button(const char *name) const { return m_editor->findChild<QPushButton *>(name); }
    QString label(const char *name) const { return m_editor->findChild<QLabel *>(name)->text(); }
    QModelIndex conn(int row, int column = 0) const { return m_model->index(row, column); }
    QModelIndex dev(int connection, int row, int column) const
    {
        return m_model->index(row, column, m_model->index(connection, 0));
    }
    void select(const QModelIndex &index)
    {
        view()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
    }
    template <typename T> T *openEditor(const QModelIndex &index)
    {
        view()->setCurrentIndex(index);
        view()->edit(index);
        return view()->viewport()->findChild<T *>();
    }
    void click(QAbstractButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
    void addConnection() { click(button("pushButton_add_top")); }
    void addDevices(int connection, int count)
    {
        for (int i = 0; i < count; ++i) {
            select(conn(connection));
            click(button("pushButton_add_child"));
        }
        settle();
    }
    // Devices pushed above the last start address are removed one event-loop
    // turn later, one after the other.
    static void settle()
    {
        for (int i = 0; i < 2 * ProjectManager::kMaxDevices; ++i)
            QCoreApplication::processEvents();
    }
    QList<int> startAddresses(int connection) const
    {
        QList<int> out;
        for (int r = 0; r < m_model->rowCount(conn(connection)); ++r)
            out << dev(connection, r, 2).data().toInt();
        return out;
    }
    QList<ConfiguredDevice *> confirm()
    {
        QSignalSpy confirmed(m_editor.get(), &ProjectManager::projectListConfirm);
        click(m_editor->findChild<QToolButton *>("btn_confirm"));
        return confirmed.isEmpty() ? QList<ConfiguredDevice *>()
                                   : confirmed.at(0).at(0).value<QList<ConfiguredDevice *>>();
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QList<ConfiguredDevice *>>();
        ProjectManager::messageHook = [this](QWidget *, const QString &title, const QString &text) {
            m_messages << title + QLatin1Char('|') + text;
        };
        ProjectManager::questionHook = [this](QWidget *parent, const QString &title,
                                              const QString &text) {
            m_questions << (parent == m_editor.get() ? title : "elsewhere: " + title) + '|' + text;
            return m_answer;
        };
    }
    void init()
    {
        m_messages.clear();
        m_questions.clear();
        m_answer = QMessageBox::Yes;
        m_editor = std::make_unique<ProjectManager>();
        m_model = m_editor->model();
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m_editor->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
    }
    void cleanup()
    {
        m_tester.reset();
        m_editor.reset();
        dataIntervalMs = kDefaultDataIntervalMs;
    }

    void addressCheck_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("kept");
        QTest::newRow("ip and port") << "10.0.0.5:502" << true;
        QTest::newRow("port zero") << "10.0.0.5:0" << true;
        QTest::newRow("no port") << "10.0.0.5" << false;
        QTest::newRow("host name") << "gateway.local:502" << false;
        QTest::newRow("port 50000") << "10.0.0.5:50000" << false;
        QTest::newRow("port beyond 16 bit") << "10.0.0.5:70000" << false;
    }
    void addressCheck()
    {
        QFETCH(QString, entry);
        QFETCH(bool, kept);
        addConnection();
        QVERIFY(m_model->setData(conn(0), entry));
        QCOMPARE(conn(0).data().toString(), kept ? entry : kDefaultAddress);
        QCOMPARE(m_messages, kept ? QStringList() : QStringList{kAddressMessage});
    }

    // New devices get start addresses 8 apart, names DEVICE1.. and unique
    // 18-character IDs; an edited start address pushes the later ones up by 8,
    // devices pushed above 106 are removed with the message.
    void startAddresses_data()
    {
        QTest::addColumn<int>("devices");
        QTest::addColumn<int>("row");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QList<int>>("starts");
        QTest::addColumn<bool>("message");
        QTest::newRow("0 8 16") << 3 << -1 << QVariant() << QList<int>{0, 8, 16} << false;
        QTest::newRow("14th at 104, 15th removed")
            << 15 << -1 << QVariant()
            << QList<int>{0, 8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88, 96, 104} << true;
        QTest::newRow("50 58 66") << 5 << 1 << QVariant(50) << QList<int>{0, 50, 58, 66, 74}
                                  << false;
        QTest::newRow("3 -> 8") << 3 << 1 << QVariant(3) << QList<int>{0, 8, 16} << false;
        QTest::newRow("not a number") << 3 << 2 << QVariant("abc") << QList<int>{0, 8, 16} << false;
        QTest::newRow("110 -> 0") << 2 << 0 << QVariant(110) << QList<int>{0, 8} << true;
    }
    void startAddresses()
    {
        QFETCH(int, devices);
        QFETCH(int, row);
        QFETCH(QVariant, value);
        QFETCH(QList<int>, starts);
        QFETCH(bool, message);
        addConnection();
        addDevices(0, devices);
        if (row >= 0) {
            QVERIFY(m_model->setData(dev(0, row, 2), value));
            settle();
        }
        QCOMPARE(startAddresses(0), starts);
        QCOMPARE(QSet<QString>(m_messages.begin(), m_messages.end()),
                 message ? QSet<QString>{kStartMessage} : QSet<QString>());
        QSet<QString> ids;
        for (int r = 0; r < starts.size(); ++r) {
            QCOMPARE(dev(0, r, 4).data().toString(), QStringLiteral("DEVICE%1").arg(r + 1));
            QCOMPARE(dev(0, r, 5).data().toString() + dev(0, r, 6).data().toString(),
                     QString("CH1CH2"));
            QCOMPARE(dev(0, r, 3).data().toString().size(), 18);
            ids << dev(0, r, 3).data().toString();
        }
        QCOMPARE(ids.size(), starts.size());
    }

    // The cell editors as a user meets them: the model combo commits and
    // closes at once (a model picked in a device row is emptied), the start
    // address spin box takes typed text as an integer within 0..106, the ID
    // is a read-only label. IDs are cut to 18
    // characters, other texts (blanks too) kept, and never confirmed empty.
    void cellEditors()
    {
        addConnection();
        addDevices(0, 2);
        for (const QModelIndex &cell : {conn(0, 1), dev(0, 0, 1)}) {
            QPointer<QComboBox> combo = openEditor<QComboBox>(cell);
            QVERIFY(combo);
            QCOMPARE(combo->count(), 2);
            combo->setCurrentIndex(1);
            QCOMPARE(cell.data().toString(),
                     cell.parent().isValid() ? QString() : QString("QB200"));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(!combo);
        }
        QSpinBox *spin = openEditor<QSpinBox>(dev(0, 1, 2));
        QCOMPARE(spin->value(), 8);
        spin->findChild<QLineEdit *>()->selectAll();
        QTest::keyClicks(spin->findChild<QLineEdit *>(), "120"); // the last digit is refused
        QTest::keyClick(spin, Qt::Key_Return);
        QCoreApplication::processEvents(); // the delegate commits through a queued call
        QCOMPARE(dev(0, 1, 2).data(Qt::EditRole).type(), QVariant::Int);
        QCOMPARE(dev(0, 1, 2).data().toInt(), 12);
        // An ID from a file that looks like markup is shown as typed.
        QVERIFY(m_model->setData(dev(0, 0, 3), "<b>ID</b>"));
        const QString number = dev(0, 0, 3).data().toString();
        QLabel *idLabel = openEditor<QLabel>(dev(0, 0, 3));
        QCOMPARE(idLabel->text(), number);
        QCOMPARE(idLabel->textFormat(), Qt::PlainText);
        QTest::keyClicks(view(), "xyz");
        QTest::keyClick(idLabel, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(dev(0, 0, 3).data().toString(), number);

        const QModelIndex id = dev(0, 0, 3);
        QVERIFY(m_model->setData(id, "ABCDEFGHIJKLMNOPQRST"));
        QCOMPARE(id.data().toString(), QString("ABCDEFGHIJKLMNOPQR"));
        QVERIFY(m_model->setData(id, "   "));
        QCOMPARE(id.data().toString(), QString("   "));
        QVERIFY(m_model->setData(id, QString()));
        const auto devices = confirm();
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices.at(0)->nodeList().at(0)->deviceNumber(), QString(18, QLatin1Char('0')));
        QCOMPARE(devices.at(0)->nodeList().at(1)->startAddress, 12);
        qDeleteAll(devices);
    }

    // At 8 connections and at 16 devices the add buttons go blank and disabled
    // (a device row never offers one). Delete asks first (through the test
    // seam); the remaining devices move down to close the gap and keep their
    // names, and the add buttons are back.
    void buttonLimitsAndDelete()
    {
        for (int i = 0; i < 8; ++i) {
            QVERIFY(button("pushButton_add_top")->isEnabled());
            addConnection();
        }
        QVERIFY(!button("pushButton_add_top")->isEnabled());
        QCOMPARE(button("pushButton_add_top")->text(), QString());
        m_editor->slotProjectAddConnection();
        QCOMPARE(m_model->rowCount(), 8);
        addDevices(0, 10);
        addDevices(1, 6);
        select(dev(0, 0, 0));
        QVERIFY(!button("pushButton_add_child")->isEnabled());
        for (int c : {0, 7}) {
            select(conn(c));
            QVERIFY(!button("pushButton_add_child")->isEnabled());
            QCOMPARE(button("pushButton_add_child")->text(), QString());
        }
        m_editor->slotProjectAddDevice();
        QCOMPARE(m_model->rowCount(conn(7)), 0);

        click(button("pushButton_del"));
        QCOMPARE(m_model->rowCount(), 7);
        QCOMPARE(button("pushButton_add_top")->text(), QString("ADD Connection"));
        const int asked = m_questions.size();
        select(dev(1, 0, 0));
        m_answer = QMessageBox::No;
        click(button("pushButton_del"));
        QCOMPARE(m_questions.mid(asked), QStringList{kEraseQuestion});
        QCOMPARE(m_model->rowCount(conn(1)), 6);
        m_answer = QMessageBox::Yes;
        click(button("pushButton_del"));
        QCOMPARE(m_questions.mid(asked), (QStringList{kEraseQuestion, kEraseQuestion}));
        QCOMPARE(startAddresses(1), (QList<int>{0, 8, 16, 24, 32}));
        QCOMPARE(dev(1, 0, 4).data().toString(), QString("DEVICE2"));
        select(conn(1));
        QVERIFY(button("pushButton_add_child")->isEnabled());
        click(button("pushButton_del"));
        QCOMPARE(m_model->rowCount(), 6);
    }

    // A start address that pushes later devices past 106 asks once, naming
    // them: Yes removes exactly those and moves the rest, No puts the old
    // address back and leaves every device where it was. No error boxes.
    void pushedOutAsksOnce_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QList<int>>("starts");
        QTest::newRow("yes removes five") << true << QList<int>{0, 50, 58, 66, 74, 82, 90, 98, 106};
        QTest::newRow("no restores 8")
            << false << QList<int>{0, 8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88, 96, 104};
    }
    void pushedOutAsksOnce()
    {
        QFETCH(bool, yes);
        QFETCH(QList<int>, starts);
        addConnection();
        addDevices(0, 14);
        // A name that would be markup if the question were rich text.
        QVERIFY(m_model->setData(dev(0, 12, 4), "<b>Freezer</b>"));
        QStringList ids;
        for (int r = 0; r < 14; ++r)
            ids << dev(0, r, 3).data().toString();
        m_answer = yes ? QMessageBox::Yes : QMessageBox::No;
        QVERIFY(m_model->setData(dev(0, 1, 2), "50"));
        settle();
        QCOMPARE(m_questions.size(), 1);
        const QString question = m_questions.constFirst();
        QVERIFY2(question.startsWith("Question|Start address 50 for \"DEVICE2\""),
                 qPrintable(question));
        for (int r = 0; r < 14; ++r)
            QCOMPARE(question.contains(ids.at(r)), r >= 9);
        QVERIFY(question.contains("[13] <b>Freezer</b> (ID "));
        QCOMPARE(startAddresses(0), starts);
        QVERIFY(m_messages.isEmpty());
        QStringList kept;
        for (int r = 0; r < starts.size(); ++r)
            kept << dev(0, r, 3).data().toString();
        QCOMPARE(kept, ids.mid(0, starts.size()));
        // The IDs of removed devices can be used again.
        if (yes) {
            QVERIFY(m_model->setData(dev(0, 8, 3), ids.at(12)));
            QCOMPARE(dev(0, 8, 3).data().toString(), ids.at(12));
        }
        // A move that fits asks nothing.
        QVERIFY(m_model->setData(dev(0, 1, 2), "8"));
        settle();
        QCOMPARE(m_questions.size(), 1);
        QCOMPARE(startAddresses(0).mid(0, 3), (QList<int>{0, 8, 16}));
    }

    // Confirmation: nothing without connections, the message without devices,
    // nothing with an address the cell check was bypassed for; otherwise
    // pollers (connections without devices left out) with their nodes.
    void confirmation()
    {
        QVERIFY(confirm().isEmpty());
        QVERIFY(m_messages.isEmpty());
        for (int i = 0; i < 3; ++i)
            addConnection();
        QVERIFY(confirm().isEmpty());
        QCOMPARE(m_messages, QStringList{kNoDeviceMessage});
        QVERIFY(m_model->setData(conn(0), "10.0.0.5:1502"));
        QVERIFY(m_model->setData(conn(0, 1), "QB200"));
        addDevices(0, 2);
        addDevices(2, 1);
        QVERIFY(m_model->setData(dev(0, 1, 2), 40));
        QVERIFY(m_model->setData(dev(0, 1, 5), "Temp"));
        {
            QSignalBlocker blocker(m_model);
            m_model->setData(conn(2), "not-an-ip:502");
        }
        QVERIFY(confirm().isEmpty());
        QCOMPARE(m_messages.last(), kAddressMessage);
        QVERIFY(m_model->setData(conn(2), kDefaultAddress));

        const auto devices = confirm();
        QCOMPARE(devices.size(), 2);
        QCOMPARE(devices.at(0)->ipAddress() + devices.at(0)->model(), QString("10.0.0.5QB200"));
        QCOMPARE(devices.at(0)->port(), quint16(1502));
        const NodeDevice *node = devices.at(0)->nodeList().at(1);
        QCOMPARE(node->startAddress, 40);
        QCOMPARE(node->deviceName() + node->ch1Name() + node->ch2Name(), QString("DEVICE2TempCH2"));
        QCOMPARE(devices.at(1)->nodeList().at(0)->deviceNumber(), dev(2, 0, 3).data().toString());
        qDeleteAll(devices);

        // Without the test seam a message is the program's own non-blocking dialog.
        const ProjectManager::MessageHook saved =
            std::exchange(ProjectManager::messageHook, nullptr);
        QVERIFY(m_model->setData(conn(0), "10.0.0.5"));
        ProjectManager::messageHook = saved;
        const auto dialogs = m_editor->findChildren<MessageDialog *>();
        QVERIFY(dialogs.size() == 1 && dialogs.at(0)->isVisible());
    }

    // An open project fills the tree (at most 16 devices, null entries
    // skipped). Confirming it again is the main window's test.
    void loadDeviceList()
    {
        QList<ConfiguredDevice *> devices{nullptr};
        for (int c = 0; c < 10; ++c) {
            devices << new ConfiguredDevice;
            devices.last()->setDeviceInfo(QStringLiteral("127.0.0.%1").arg(c + 1),
                                          quint16(1502 + c));
            devices.last()->setModel(c ? "QB200" : "QA100");
            for (int n = 0; n < 7; ++n) {
                auto *node =
                    new NodeDevice(QStringLiteral("SN%1-%2").arg(c).arg(n), devices.last());
                node->startAddress = n * 16;
                node->setNames(QStringLiteral("Room %1").arg(n), "T", "H");
                devices.last()->addNode(node);
            }
        }
        m_editor->loadDeviceList(devices);
        QCOMPARE(m_model->rowCount(), 3);
        QCOMPARE(m_model->rowCount(conn(2)), 2);
        QCOMPARE(conn(1).data().toString() + conn(1, 1).data().toString(),
                 QString("127.0.0.2:1503QB200"));
        QCOMPARE(startAddresses(1), (QList<int>{0, 16, 32, 48, 64, 80, 96}));
        QCOMPARE(QStringList({dev(1, 2, 3).data().toString(), dev(1, 2, 4).data().toString(),
                              dev(1, 2, 5).data().toString(), dev(1, 2, 6).data().toString()}),
                 (QStringList{"SN1-2", "Room 2", "T", "H"}));
        QVERIFY(view()->isExpanded(conn(0)) && m_messages.isEmpty());
        select(conn(0));
        QVERIFY(!button("pushButton_add_child")->isEnabled());
        qDeleteAll(devices);
    }

    // The interval menu sets the data interval and can be locked.
    void intervalMenu()
    {
        QMenu *menu = m_editor->intervalMenu();
        const auto actions = menu->actions();
        QVERIFY(actions.at(2)->isChecked());
        click(m_editor->findChild<QToolButton *>("btn_timeInterval"));
        QVERIFY(menu->isVisible());
        actions.at(4)->trigger();
        QCOMPARE(dataIntervalMs, 300000);
        QCOMPARE(label("label_interval"), QString("5 min"));
        QVERIFY(!actions.at(2)->isChecked() && actions.at(4)->isChecked());
        menu->hide();
        m_editor->setIntervalDisabled(true);
        QVERIFY(!m_editor->findChild<QToolButton *>("btn_timeInterval")->isEnabled());
        QVERIFY(!menu->isEnabled());
    }

    // Random edits, at valid and invalid positions, under the model tester:
    // invalid ones are refused and every change keeps the model consistent.
    void editsKeepTheModelConsistent()
    {
        TreeModel model({"a", "b", "c", "d"});
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QRandomGenerator rng(4711);
        for (int step = 0; step < 600 && !QTest::currentTestFailed(); ++step) {
            QModelIndex parent;
            if (model.rowCount() > 0 && rng.bounded(2))
                parent = model.index(rng.bounded(model.rowCount()), 0);
            const int rows = model.rowCount(parent);
            const int columns = model.columnCount();
            const int at = rng.bounded(-1, rows + 2);
            const int count = rng.bounded(0, 3);
            switch (rng.bounded(5)) {
            case 0: QCOMPARE(model.insertRows(at, count, parent), at >= 0 && at <= rows); break;
            case 1:
                QCOMPARE(model.removeRows(at, count, parent), at >= 0 && at + count <= rows);
                break;
            case 2:
                if (columns < 6 && step % 7 == 0)
                    QVERIFY(model.insertColumns(rng.bounded(columns + 1), 1));
                else if (columns > 1 && step % 7 == 1)
                    QVERIFY(model.removeColumns(rng.bounded(columns), 1));
                break;
            default:
                if (rows > 0) {
                    const QModelIndex cell =
                        model.index(rng.bounded(rows), rng.bounded(columns), parent);
                    QVERIFY(model.setData(cell, QString::number(step)));
                    QCOMPARE(cell.data().toString(), QString::number(step));
                }
                break;
            }
        }
    }

    // An empty value is stored without dataChanged (the editor's cascades rely
    // on it); any other value, "0" included, is announced; other roles are refused.
    void emptyValueIsSilent()
    {
        TreeModel model({"a", "b"});
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.insertRows(0, 1));
        const QModelIndex cell = model.index(0, 1);
        QSignalSpy spy(&model, &TreeModel::dataChanged);
        QVERIFY(model.setData(cell, "7"));
        QVERIFY(model.setData(cell, QString()));
        QCOMPARE(cell.data().toString(), QString());
        QCOMPARE(spy.count(), 1);
        QVERIFY(model.setData(cell, 0));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toModelIndex(), cell);
        QVERIFY(!model.setData(cell, "new", Qt::DisplayRole));
        QVERIFY(!model.setData(QModelIndex(), "x"));
        QCOMPARE(cell.data().toString(), QString("0"));
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QString("b"));
    }
};

QTEST_MAIN(tst_ProjectManager)
#include "tst_projectmanager.moc"
