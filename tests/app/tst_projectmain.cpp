#include "app/projectmain.h"
#include "projectfixture.h"
#include "testsupport.h"

#include <QDateTime>
#include <QListWidget>
#include <QMessageBox>
#include <QtTest>

#include <sys/stat.h>

class tst_ProjectMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void createAndOpen_data();
    void createAndOpen();
    void oldRecordingMovedAside();
    void recentList_data();
    void recentList();
};

void tst_ProjectMain::createAndOpen_data()
{
    QTest::addColumn<QString>("typed");   // dialog's answer (temporary folder); empty: cancelled
    QTest::addColumn<bool>("create");     // "btn_create", else "btn_open"
    QTest::addColumn<QString>("exists");  // file there beforehand (10 bytes); empty: none
    QTest::addColumn<QString>("message"); // "title|text" shown; empty: none
    QTest::addColumn<QString>("emitted"); // file named by the signal; empty: none

    const QString tooLong =
        "ERROR|\"abcdefghijklmnopq.qlk\" is too long.\nPlease retry.\nMax Length is 20 charactors.";
    const QString cannot = "ERROR|Unable to open the project file.";
    const QString none;
    QTest::newRow("create 16 letters")
        << "abcdefghijklmnop" << true << none << none << "abcdefghijklmnop.qlk";
    QTest::newRow("create 17 letters") << "abcdefghijklmnopq" << true << none << tooLong << none;
    QTest::newRow("create other suffix") << "plant.ini" << true << none << none << "plant.ini";
    // The name is checked with its suffix: "demo" is "demo.qlk"; replacing is asked
    // (below), an other file is not.
    QTest::newRow("demo over demo, no question") << "demo" << true << "demo" << none << "demo.qlk";
    QTest::newRow("create, no folder") << "no-such-folder/p1" << true << none << cannot << none;
    QTest::newRow("create cancelled") << none << true << none << none << none;
    const QString open20 = "abcdefghijklmnop.qlk", open21 = "abcdefghijklmnopq.qlk";
    QTest::newRow("open 20 characters") << open20 << false << open20 << none << open20;
    QTest::newRow("open 21 characters") << open21 << false << open21 << tooLong << none;
    QTest::newRow("open missing") << "gone.qlk" << false << none << cannot << none;
    QTest::newRow("open cancelled") << none << false << none << none << none;
    // A named pipe ("|" below) would hold the window: refused, create or open.
    const QString pipe = "ERROR|\"pipe.qlk\" is not a regular file: a project is kept in one.";
    QTest::newRow("open a pipe") << "pipe.qlk" << false << "|pipe.qlk" << pipe << none;
    QTest::newRow("create over a pipe") << "pipe.qlk" << true << "|pipe.qlk" << pipe << none;
}

void tst_ProjectMain::createAndOpen()
{
    QFETCH(bool, create);
    QFETCH(QString, typed);
    QFETCH(QString, exists);
    QFETCH(QString, emitted);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const bool pipe = exists.startsWith('|');
    if (pipe) {
        exists = exists.mid(1);
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(exists)).constData(), 0600) == 0);
    } else if (!exists.isEmpty()) {
        QFile f(dir.filePath(exists));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Project]\n");
    }
    auto dialog = [&](QWidget *, const QString &, const QString &, const QString &) {
        return typed.isEmpty() ? QString() : dir.filePath(typed);
    };
    (create ? ProjectMain::saveFileDialog : ProjectMain::openFileDialog) = dialog;
    int asked = 0;
    ProjectMain::replaceQuestion = [&](QWidget *, const QString &, const QString &) {
        ++asked;
        return QMessageBox::No;
    };
    ProjectMain page({}, {});
    QSignalSpy created(&page, &ProjectMain::projectCreated);
    QSignalSpy loaded(&page, &ProjectMain::projectLoaded);
    QTest::mouseClick(page.findChild<QWidget *>(create ? "btn_create" : "btn_open"),
                      Qt::LeftButton);
    ProjectMain::saveFileDialog = ProjectMain::openFileDialog = nullptr;
    ProjectMain::replaceQuestion = nullptr;

    QCOMPARE(TestSupport::shownMessages(&page),
             message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(asked, 0);
    QCOMPARE((create ? loaded : created).count(), 0);
    QSignalSpy &spy = create ? created : loaded;
    QCOMPARE(spy.count(), emitted.isEmpty() ? 0 : 1);
    // Creating leaves an empty file; opening never touches the content; a
    // refusal makes no file and empties none.
    if (!emitted.isEmpty()) {
        QCOMPARE(spy.at(0).at(0).toString(), dir.filePath(emitted));
        QCOMPARE(QFileInfo(dir.filePath(emitted)).size(), create ? 0 : 10);
    }
    if (!exists.isEmpty() && exists != emitted && !pipe)
        QCOMPARE(QFileInfo(dir.filePath(exists)).size(), 10);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(),
             int(!exists.isEmpty() && !pipe) +
                 int(create && !emitted.isEmpty() && emitted != exists));
}

// A new project over an old one of the same name starts on a new record
// database: the old one, with the log SQLite keeps beside it, is moved aside
// under a name with the date and time (never deleted) and the user is told
// where it went. Without the user's Yes, or where it cannot be moved, nothing
// moves, the old project file is not emptied and no project is created.
void tst_ProjectMain::oldRecordingMovedAside()
{
    QTemporaryDir dir;
    auto write = [&](const QString &name, const QByteArray &data) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    };
    auto content = [&](const QString &name) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QVERIFY(write("p.qlk", "[General]\nprojectName=p\n") && write("p.dat", "old rows") &&
            write("p.dat-wal", "log"));
    // A name already taken this second is not overwritten either.
    const QString taken =
        "p_replaced_" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + ".dat";
    QVERIFY(write(taken, "earlier"));

    ProjectMain::saveFileDialog = [&](QWidget *, const QString &, const QString &,
                                      const QString &) { return dir.filePath("p"); };
    QMessageBox::StandardButton answer = QMessageBox::No;
    QStringList questions;
    ProjectMain::replaceQuestion = [&](QWidget *, const QString &title, const QString &text) {
        questions << title + '|' + text;
        return answer;
    };
    ProjectMain page({}, {});
    QSignalSpy created(&page, &ProjectMain::projectCreated);
    auto *create = page.findChild<QWidget *>("btn_create");
    QTest::mouseClick(create, Qt::LeftButton);
    QCOMPARE(questions, QStringList{"Question|\"p.qlk\" already exists.\nDo you want to replace "
                                    "it?\nIts recorded data is kept under another name."});
    answer = QMessageBox::Yes;
    if (TestSupport::setWritable(dir.path(), false)) {
        QTest::mouseClick(create, Qt::LeftButton);
        QVERIFY(TestSupport::setWritable(dir.path(), true));
        const QStringList shown = TestSupport::shownMessages(&page);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.at(0).startsWith(
                     "ERROR|The recorded data of the old project could not be moved aside:\n" +
                     QDir::toNativeSeparators(dir.filePath("p.dat"))),
                 qPrintable(shown.at(0)));
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 4);
    QCOMPARE(content("p.qlk"), QByteArray("[General]\nprojectName=p\n"));
    QVERIFY(created.isEmpty());

    const int told = TestSupport::shownMessages(&page).size();
    QTest::mouseClick(create, Qt::LeftButton);
    ProjectMain::saveFileDialog = nullptr;
    ProjectMain::replaceQuestion = nullptr;
    QCOMPARE(created.count(), 1);
    QVERIFY(!QFileInfo::exists(dir.filePath("p.dat")) &&
            !QFileInfo::exists(dir.filePath("p.dat-wal")));
    QStringList moved = QDir(dir.path()).entryList({"p_replaced_*"}, QDir::Files, QDir::Name);
    QVERIFY(moved.removeOne(taken));
    QCOMPARE(moved.size(), 2);
    QVERIFY2(moved.at(1) == moved.at(0) + "-wal", qPrintable(moved.join(',')));
    QCOMPARE(content(moved.at(0)), QByteArray("old rows"));
    QCOMPARE(content(moved.at(1)), QByteArray("log"));
    QCOMPARE(content(taken), QByteArray("earlier"));
    QCOMPARE(TestSupport::shownMessages(&page).mid(told),
             QStringList{"INFORMATION|The recorded data of the replaced project was kept as:\n" +
                         QDir::toNativeSeparators(dir.filePath(moved.at(0)))});
    QCOMPARE(QFileInfo(dir.filePath("p.qlk")).size(), 0);
}

void tst_ProjectMain::recentList_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QVariantHash>("map");
    QTest::addColumn<QStringList>("shown");

    const QString d70 = '/' + QString(69, 'd'), d71 = '/' + QString(70, 'e');
    QTest::newRow("70-character folder")
        << QStringList{"plant1", "other"}
        << QVariantHash{{"plant1", d70 + "/plant1.qlk"}, {"other", "/data/o.qlk"}}
        << QStringList{"plant1\t[" + d70 + "/plant1.qlk]", "other\t[/data/o.qlk]"};
    QTest::newRow("71-character folder cut")
        << QStringList{"p"} << QVariantHash{{"p", d71 + "/p.qlk"}}
        << QStringList{"p\t[" + d71.left(70) + ".../p.qlk]"};
    // Whatever an unreadable or garbled store gives: no entry, no crash.
    QTest::newRow("name without path") << QStringList{"lost"} << QVariantHash{} << QStringList{};
    QTest::newRow("number as path") << QStringList{"p"} << QVariantHash{{"p", 42}} << QStringList{};
    QTest::newRow("empty name") << QStringList{""} << QVariantHash{{"", "/x/y.qlk"}}
                                << QStringList{};
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
    if (list->count() < 2)
        return;
    // A double click or Return on an entry opens its project.
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy loaded(&page, &ProjectMain::projectLoaded);
    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    list->setFocus();
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(loaded.count(), 2);
    QCOMPARE(loaded.at(0).at(0), map.value(names.at(1)));
    QCOMPARE(loaded.at(1).at(0), map.value(names.at(0)));
}

QTEST_MAIN(tst_ProjectMain)
#include "tst_projectmain.moc"
