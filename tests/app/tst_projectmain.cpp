#include "app/projectmain.h"
#include "projectfixture.h"
#include "testsupport.h"

#include <QListWidget>
#include <QtTest>

class tst_ProjectMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void createAndOpen_data();
    void createAndOpen();
    void recentList_data();
    void recentList();
    void recentEntryLoads();
};

void tst_ProjectMain::createAndOpen_data()
{
    QTest::addColumn<bool>("create");     // "btn_create", else "btn_open"
    QTest::addColumn<QString>("typed");   // answer of the file dialog, in a temporary folder; empty: cancelled
    QTest::addColumn<bool>("exists");     // the file is there beforehand (10 bytes)
    QTest::addColumn<QString>("emitted"); // file named by the signal; empty: none
    QTest::addColumn<QString>("message"); // "title|text" shown; empty: none

    const QString tooLong = QStringLiteral(
        "ERROR|\"abcdefghijklmnopq.qlk\" is too long.\nPlease retry.\nMax Length is 20 charactors.");
    const QString cannot = QStringLiteral("ERROR|Unable to open the project file.");
    QTest::newRow("create 16 letters") << true << "abcdefghijklmnop" << false << "abcdefghijklmnop.qlk" << "";
    QTest::newRow("create 16+.qlk") << true << "abcdefghijklmnop.qlk" << false << "abcdefghijklmnop.qlk" << "";
    QTest::newRow("create 17 letters") << true << "abcdefghijklmnopq" << false << "" << tooLong;
    QTest::newRow("create 17+.qlk") << true << "abcdefghijklmnopq.qlk" << false << "" << tooLong;
    QTest::newRow("create other suffix") << true << "plant.ini" << false << "plant.ini" << "";
    QTest::newRow("create over old file") << true << "old.qlk" << true << "old.qlk" << "";
    QTest::newRow("create, no folder") << true << "no-such-folder/p1" << false << "" << cannot;
    QTest::newRow("create cancelled") << true << "" << false << "" << "";
    QTest::newRow("open 20 characters") << false << "abcdefghijklmnop.qlk" << true << "abcdefghijklmnop.qlk" << "";
    QTest::newRow("open 21 characters") << false << "abcdefghijklmnopq.qlk" << true << "" << tooLong;
    QTest::newRow("open missing") << false << "gone.qlk" << false << "" << cannot;
    QTest::newRow("open cancelled") << false << "" << false << "" << "";
}

void tst_ProjectMain::createAndOpen()
{
    QFETCH(bool, create);
    QFETCH(QString, typed);
    QFETCH(bool, exists);
    QFETCH(QString, emitted);
    QFETCH(QString, message);

    QTemporaryDir dir;
    if (exists) {
        QFile f(dir.filePath(typed));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Project]\n");
    }
    auto answer = [&](QWidget *, const QString &, const QString &, const QString &) {
        return typed.isEmpty() ? QString() : dir.filePath(typed);
    };
    (create ? ProjectMain::saveFileDialog : ProjectMain::openFileDialog) = answer;
    ProjectMain page({}, {});
    QSignalSpy created(&page, &ProjectMain::projectCreated);
    QSignalSpy loaded(&page, &ProjectMain::projectLoaded);
    QTest::mouseClick(page.findChild<QWidget *>(create ? "btn_create" : "btn_open"), Qt::LeftButton);
    ProjectMain::saveFileDialog = ProjectMain::openFileDialog = nullptr;

    QCOMPARE(TestSupport::shownMessages(&page), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE((create ? loaded : created).count(), 0);
    QSignalSpy &spy = create ? created : loaded;
    QCOMPARE(spy.count(), emitted.isEmpty() ? 0 : 1);
    // Creating leaves an empty file; opening never touches the content; a refusal makes no file.
    if (!emitted.isEmpty()) {
        QCOMPARE(spy.at(0).at(0).toString(), dir.filePath(emitted));
        QCOMPARE(QFileInfo(dir.filePath(emitted)).size(), create ? 0 : 10);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), int(exists || (create && !emitted.isEmpty())));
}

void tst_ProjectMain::recentList_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QVariantHash>("map");
    QTest::addColumn<QStringList>("shown");

    const QString d70 = '/' + QString(69, 'd'), d71 = '/' + QString(70, 'e');
    QTest::newRow("70-character folder")
        << QStringList{"plant1", "other"} << QVariantHash{{"plant1", d70 + "/plant1.qlk"}, {"other", "/data/o.qlk"}}
        << QStringList{"plant1\t[" + d70 + "/plant1.qlk]", "other\t[/data/o.qlk]"};
    QTest::newRow("71-character folder cut") << QStringList{"p"} << QVariantHash{{"p", d71 + "/p.qlk"}}
                                             << QStringList{"p\t[" + d71.left(70) + ".../p.qlk]"};
    // Whatever an unreadable or garbled store gives: no entry, no crash.
    QTest::newRow("name without path") << QStringList{"lost"} << QVariantHash{} << QStringList{};
    QTest::newRow("number as path") << QStringList{"p"} << QVariantHash{{"p", 42}} << QStringList{};
    QTest::newRow("empty name") << QStringList{""} << QVariantHash{{"", "/x/y.qlk"}} << QStringList{};
}

void tst_ProjectMain::recentList()
{
    QFETCH(QStringList, names);
    QFETCH(QVariantHash, map);
    QFETCH(QStringList, shown);
    ProjectMain page(names, map);
    auto *list = page.findChild<QListWidget *>("listWidget");
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    QCOMPARE(texts, shown);
}

void tst_ProjectMain::recentEntryLoads()
{
    ProjectMain page({"b", "a"}, {{"a", "/nowhere/a.qlk"}, {"b", "/nowhere/b.qlk"}});
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy loaded(&page, &ProjectMain::projectLoaded);
    auto *list = page.findChild<QListWidget *>("listWidget");
    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    list->setFocus();
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(loaded.count(), 2);
    QCOMPARE(loaded.at(0).at(0).toString(), QStringLiteral("/nowhere/a.qlk"));
    QCOMPARE(loaded.at(1).at(0).toString(), QStringLiteral("/nowhere/b.qlk"));
}

QTEST_MAIN(tst_ProjectMain)
#include "tst_projectmain.moc"
