// Readable texts, measured on rendered widgets: the WCAG 2 contrast ratio of
// the text against what it is drawn on must reach 4.5:1 on the start screen,
// the title bar, the project button, the status strip with a link notice, the
// dialogs opened from the dark pages (file dialogs, questions). And the
// messages: closed by hand or going by themselves.
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "common/dialoglook.h"
#include "common/messagedialog.h"
#include "device/linknoticeboard.h"
#include "project/projectmanager.h"
#include "projectfixture.h"
#include "testsupport.h"

#include <QCommandLinkButton>
#include <QFileDialog>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include <cmath>

namespace
{

double luminance(QRgb c)
{
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// The most frequent colour of `rect` is what the text is drawn on; the text
// itself is the pixel that stands out most from it (the core of a stroke,
// past the anti-aliased edges).
double textContrast(const QImage &image, const QRect &rect, QRgb *background = nullptr)
{
    QHash<QRgb, int> counts;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000];
    QRgb base = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            base = it.key();
        }
    }
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = qMax(best, contrast(base, it.key()));
    if (background)
        *background = base;
    return best;
}

// Renders `top` and checks the text of `widget` (within `local`, its whole
// rectangle by default).
void checkText(QWidget *top, QWidget *widget, const QString &what, QRect local = QRect())
{
    QVERIFY2(widget && widget->isVisible(), qPrintable(what));
    if (local.isNull())
        local = widget->rect();
    QCoreApplication::processEvents();
    const QImage image = top->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect rect(widget->mapTo(top, local.topLeft()), local.size());
    QRgb background = 0;
    const double ratio = textContrast(image, rect, &background);
    QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1: contrast %2:1 on #%3")
                                          .arg(what)
                                          .arg(ratio, 0, 'f', 2)
                                          .arg(background & 0xffffff, 6, 16, QLatin1Char('0'))));
}

// Moves the pointer over `widget` as a user would.
void hover(QWidget *widget)
{
    QTest::mouseMove(widget, widget->rect().center());
    QTRY_VERIFY(widget->underMouse());
}

} // namespace

class tst_DialogLook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void startScreenAndTitleBar();
    void dialogsFromDarkPages();
    void messagesCloseByHandOrByThemselves();
};

// The start screen on the window's dark page, its buttons also hovered, the
// version and menu buttons of the title bar, then the project button of the
// device list and the status strip under an open project.
void tst_DialogLook::startScreenAndTitleBar()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Cold store.qlk");
    QVERIFY(TestSupport::writeProject(path, 1000, {9}));
    QuillarkMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *page = window.findChild<ProjectMain *>();
    QVERIFY(page);
    checkText(&window, page->findChild<QLabel *>("label"), "start title");
    checkText(&window, page->findChild<QLabel *>("label_2"), "recent title");
    checkText(&window, window.findChild<QLabel *>("label_version"), "version");
    // A button's text, right of its icon, then hovered.
    auto checkButton = [&](const char *name) {
        auto *button = window.findChild<QCommandLinkButton *>(name);
        const QRect text = button->rect().adjusted(button->iconSize().width() + 16, 0, 0, 0);
        checkText(&window, button, name, text);
        hover(button);
        checkText(&window, button, QStringLiteral("%1 hovered").arg(name), text);
        QTest::mouseMove(&window, QPoint(5, 300));
    };
    checkButton("btn_create");
    checkButton("btn_open");
    for (const char *name : {"command_project", "command_record"}) {
        auto *button = window.findChild<QCommandLinkButton *>(name);
        hover(button);
        checkText(&window, button, QStringLiteral("%1 hovered").arg(name));
    }

    emit page->projectLoaded(path);
    QCoreApplication::processEvents();
    checkButton("button_project");
    // The link notice in the status strip too.
    window.findChild<LinkNoticeBoard *>()->post("10.0.0.9:502", true, "10.0.0.9:502 lost");
    for (const char *name :
         {"label_projectname", "label_interval", "label_datetime", "label_link_notice"})
        checkText(&window, window.findChild<QLabel *>(name), name);
}

// The file dialogs of the start screen and the questions of the editor
// bring their own look instead of the page's pale text.
void tst_DialogLook::dialogsFromDarkPages()
{
    QTemporaryDir dir;
    QFile(dir.filePath("plant.qlk")).open(QIODevice::WriteOnly);
    ProjectMain page({}, {});
    page.resize(850, 400);
    page.show();
    // Open and save dialogs share the look; the page asks before a file is
    // replaced, so the save dialog does not ask again.
    QScopedPointer<QFileDialog> dialog(
        DialogLook::fileDialog(&page, "Create Project", dir.path(), "*.qlk", true));
    QVERIFY(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    dialog->resize(700, 420);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
    auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
    name->setText("new project");
    checkText(dialog.data(), dialog->findChild<QLabel *>("lookInLabel"), "look in");
    checkText(dialog.data(), dialog->findChild<QLabel *>("fileNameLabel"), "file name label");
    checkText(dialog.data(), name, "file name");
    // The files, in whichever view the dialog shows.
    QAbstractItemView *list = dialog->findChild<QListView *>("listView");
    if (!list->isVisible())
        list = dialog->findChild<QAbstractItemView *>("treeView");
    QTRY_VERIFY(list->model()->rowCount(list->rootIndex()) == 1);
    checkText(dialog.data(), list->viewport(), "file list",
              list->visualRect(list->model()->index(0, 0, list->rootIndex())));

    ProjectManager editor;
    editor.show();
    QScopedPointer<QMessageBox> question(DialogLook::question(
        &editor, "Question", "Erasing the device may result in loss of data.\n Are you sure?"));
    question->show();
    QVERIFY(QTest::qWaitForWindowExposed(question.data()));
    checkText(question.data(), question->findChild<QLabel *>("qt_msgbox_label"), "delete question");
    for (QMessageBox::StandardButton which : {QMessageBox::Yes, QMessageBox::No}) {
        QAbstractButton *button = question->button(which);
        // Inside the border.
        checkText(question.data(), button,
                  QStringLiteral("delete question button %1").arg(button->text()),
                  button->rect().adjusted(4, 4, -4, -4));
    }
    QCOMPARE(question->textFormat(), Qt::PlainText);
}

// A message closed by hand stays closed; one left alone goes by itself.
void tst_DialogLook::messagesCloseByHandOrByThemselves()
{
    QWidget parent;
    showMessage(&parent, "ERROR", "closed by hand");
    QPointer<MessageDialog> byHand = parent.findChild<MessageDialog *>();
    QVERIFY(byHand);
    showMessage(&parent, "WARNING", "line one\nline two");
    QPointer<MessageDialog> leftAlone = parent.findChildren<MessageDialog *>().last();
    QVERIFY(leftAlone != byHand && leftAlone->isVisible() && leftAlone->isModal());
    QCOMPARE(TestSupport::shownMessages(&parent),
             (QStringList{"ERROR|closed by hand", "WARNING|line one\nline two"}));

    QTest::mouseClick(byHand->findChild<QPushButton *>("pushButton_close"), Qt::LeftButton);
    QTRY_VERIFY(!byHand || !byHand->isVisible());

    // The untouched one goes by itself; by then the first one's timer has
    // fired as well and must not have brought it back.
    QVERIFY(QTest::qWaitFor([&]() { return !leftAlone || !leftAlone->isVisible(); }, 6000));
    QVERIFY(!byHand || !byHand->isVisible());
    // Closed messages do not pile up under their parent.
    QTRY_COMPARE(parent.findChildren<MessageDialog *>().size(), 0);
}

QTEST_MAIN(tst_DialogLook)
#include "tst_dialoglook.moc"
