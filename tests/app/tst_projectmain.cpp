#include "app/messagedialog.h"
#include "app/projectmain.h"
#include "testsupport.h"

#include <QGroupBox>
#include <QListWidget>
#include <QTextBrowser>
#include <QtTest>

class tst_ProjectMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void cleanup();
    void createProject_data();
    void createProject();
    void createEmptiesExistingFile();
    void openProject_data();
    void openProject();
    void cancelDoesNothing();
    void recentList_data();
    void recentList();
    void recentEntryLoads();
    void garbageRecentDataGivesEmptyList_data();
    void garbageRecentDataGivesEmptyList();

private:
    // The last message shown on the page, as "title|text"; empty if none.
    static QString lastMessage(ProjectMain &page);
    QTemporaryDir m_dir;
};

void tst_ProjectMain::cleanup()
{
    ProjectMain::saveFileDialog = nullptr;
    ProjectMain::openFileDialog = nullptr;
}

QString tst_ProjectMain::lastMessage(ProjectMain &page)
{
    const auto dialogs = page.findChildren<MessageDialog *>();
    if (dialogs.isEmpty())
        return QString();
    MessageDialog *d = dialogs.last();
    return d->findChild<QGroupBox *>("groupBox_message")->title() + QLatin1Char('|')
           + d->findChild<QTextBrowser *>("textBrowser")->toPlainText();
}

void tst_ProjectMain::createProject_data()
{
    QTest::addColumn<QString>("typed");    // what the user typed, relative to the temp dir
    QTest::addColumn<QString>("expected"); // file that must exist afterwards (empty: none)
    QTest::addColumn<QString>("message");  // "title|text" shown, empty for none

    const QString tooLong17 = QStringLiteral(
        "ERROR|\"abcdefghijklmnopq.qlk\" is too long.\nPlease retry.\nMax Length is 20 charactors.");
    QTest::newRow("16 letters, suffix added") << "abcdefghijklmnop" << "abcdefghijklmnop.qlk" << "";
    QTest::newRow("16 letters with suffix") << "abcdefghijklmnop.qlk" << "abcdefghijklmnop.qlk" << "";
    QTest::newRow("17 letters refused") << "abcdefghijklmnopq" << "" << tooLong17;
    QTest::newRow("17 letters with suffix refused") << "abcdefghijklmnopq.qlk" << "" << tooLong17;
    QTest::newRow("other suffix kept") << "plant.ini" << "plant.ini" << "";
    QTest::newRow("folder missing") << "no-such-folder/p1" << ""
                                    << "ERROR|Unable to open the project file.";
}

void tst_ProjectMain::createProject()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QString askedCaption, askedFilter;
    ProjectMain::saveFileDialog = [&](QWidget *, const QString &caption, const QString &,
                                      const QString &filter) {
        askedCaption = caption;
        askedFilter = filter;
        return dir.filePath(typed);
    };
    ProjectMain page({}, {});
    QSignalSpy created(&page, &ProjectMain::projectCreated);
    QSignalSpy loaded(&page, &ProjectMain::projectLoaded);
    QTest::mouseClick(page.findChild<QWidget *>("btn_create"), Qt::LeftButton);

    QCOMPARE(askedCaption, QStringLiteral("Create Project"));
    QCOMPARE(askedFilter, QStringLiteral("*.qlk"));
    QCOMPARE(loaded.count(), 0);
    QCOMPARE(lastMessage(page), message);
    if (expected.isEmpty()) {
        QCOMPARE(created.count(), 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
    } else {
        QCOMPARE(created.count(), 1);
        QCOMPARE(created.at(0).at(0).toString(), dir.filePath(expected));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{expected});
    }
}

void tst_ProjectMain::createEmptiesExistingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("old.qlk");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Project]\n");
    }
    ProjectMain::saveFileDialog = [&](QWidget *, const QString &, const QString &, const QString &) {
        return path;
    };
    ProjectMain page({}, {});
    QSignalSpy created(&page, &ProjectMain::projectCreated);
    QTest::mouseClick(page.findChild<QWidget *>("btn_create"), Qt::LeftButton);
    QCOMPARE(created.count(), 1);
    QCOMPARE(QFileInfo(path).size(), 0);
}

void tst_ProjectMain::openProject_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("message");

    QTest::newRow("existing") << "site-a.qlk" << true << "";
    QTest::newRow("20 characters") << "abcdefghijklmnop.qlk" << true << "";
    QTest::newRow("21 characters")
        << "abcdefghijklmnopq.qlk" << true
        << "ERROR|\"abcdefghijklmnopq.qlk\" is too long.\nPlease retry.\nMax Length is 20 charactors.";
    QTest::newRow("missing") << "gone.qlk" << false << "ERROR|Unable to open the project file.";
}

void tst_ProjectMain::openProject()
{
    QFETCH(QString, name);
    QFETCH(bool, exists);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (exists) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Project]\n");
    }
    QString askedCaption;
    ProjectMain::openFileDialog = [&](QWidget *, const QString &caption, const QString &, const QString &) {
        askedCaption = caption;
        return path;
    };
    ProjectMain page({}, {});
    QSignalSpy created(&page, &ProjectMain::projectCreated);
    QSignalSpy loaded(&page, &ProjectMain::projectLoaded);
    QTest::mouseClick(page.findChild<QWidget *>("btn_open"), Qt::LeftButton);

    QCOMPARE(askedCaption, QStringLiteral("Open Project"));
    QCOMPARE(created.count(), 0);
    QCOMPARE(lastMessage(page), message);
    QCOMPARE(loaded.count(), message.isEmpty() ? 1 : 0);
    if (message.isEmpty()) {
        QCOMPARE(loaded.at(0).at(0).toString(), path);
        // Opening never touches the content.
        QCOMPARE(QFileInfo(path).size(), qint64(10));
    }
}

void tst_ProjectMain::cancelDoesNothing()
{
    const auto cancelled = [](QWidget *, const QString &, const QString &, const QString &) {
        return QString();
    };
    ProjectMain::saveFileDialog = cancelled;
    ProjectMain::openFileDialog = cancelled;
    ProjectMain page({}, {});
    QSignalSpy created(&page, &ProjectMain::projectCreated);
    QSignalSpy loaded(&page, &ProjectMain::projectLoaded);
    QTest::mouseClick(page.findChild<QWidget *>("btn_create"), Qt::LeftButton);
    QTest::mouseClick(page.findChild<QWidget *>("btn_open"), Qt::LeftButton);
    QCOMPARE(created.count() + loaded.count(), 0);
    QCOMPARE(lastMessage(page), QString());
}

void tst_ProjectMain::recentList_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("shownDir");

    const QString d70 = QStringLiteral("/") + QString(69, QLatin1Char('d'));
    const QString d71 = QStringLiteral("/") + QString(70, QLatin1Char('e'));
    QVERIFY(d70.length() == 70 && d71.length() == 71);
    QTest::newRow("short") << "/home/user/Documents" << "/home/user/Documents";
    QTest::newRow("70 characters") << d70 << d70;
    QTest::newRow("71 characters") << d71 << d71.left(70) + "...";
}

void tst_ProjectMain::recentList()
{
    QFETCH(QString, dir);
    QFETCH(QString, shownDir);

    const QString path = dir + "/plant1.qlk";
    const QStringList names{"plant1", "other"};
    const QHash<QString, QVariant> map{{"plant1", path}, {"other", "/data/other.qlk"}};
    ProjectMain page(names, map);
    auto *list = page.findChild<QListWidget *>("listWidget");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(0)->text(), "plant1\t[" + shownDir + "/plant1.qlk]");
    QCOMPARE(list->item(0)->data(Qt::ToolTipRole).toString(), path);
    QCOMPARE(list->item(1)->text(), QStringLiteral("other\t[/data/other.qlk]"));
}

void tst_ProjectMain::recentEntryLoads()
{
    const QHash<QString, QVariant> map{{"a", "/nowhere/a.qlk"}, {"b", "/nowhere/b.qlk"}};
    ProjectMain page({"b", "a"}, map);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy loaded(&page, &ProjectMain::projectLoaded);
    auto *list = page.findChild<QListWidget *>("listWidget");

    // Double click on the second entry.
    const QRect r = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(loaded.at(0).at(0).toString(), QStringLiteral("/nowhere/a.qlk"));

    // Enter on the first entry.
    list->setFocus();
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(loaded.count(), 2);
    QCOMPARE(loaded.at(1).at(0).toString(), QStringLiteral("/nowhere/b.qlk"));
}

void tst_ProjectMain::garbageRecentDataGivesEmptyList_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QVariantHash>("map");

    QTest::newRow("name without path") << QStringList{"lost"} << QVariantHash{};
    QTest::newRow("empty path") << QStringList{"p"} << QVariantHash{{"p", QString()}};
    QTest::newRow("number") << QStringList{"p"} << QVariantHash{{"p", 42}};
    QTest::newRow("list") << QStringList{"p"} << QVariantHash{{"p", QStringList{"a", "b"}}};
    QTest::newRow("empty name") << QStringList{""} << QVariantHash{{"", "/x/y.qlk"}};
    QTest::newRow("nothing") << QStringList{} << QVariantHash{{"p", "/x/p.qlk"}};
}

void tst_ProjectMain::garbageRecentDataGivesEmptyList()
{
    QFETCH(QStringList, names);
    QFETCH(QVariantHash, map);
    ProjectMain page(names, map);
    QCOMPARE(page.findChild<QListWidget *>("listWidget")->count(), 0);
}

QTEST_MAIN(tst_ProjectMain)
#include "tst_projectmain.moc"
