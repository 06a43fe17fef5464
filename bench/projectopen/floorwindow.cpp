// The floor of a window: a bare Qt Widgets program that shows a window of the
// recorder's size and, at its first paint, writes "window <monotonic ns>" to
// the file QUILLARK_BENCH_PROBE names and, with QUILLARK_BENCH_EXIT=1, quits.
#include <QApplication>
#include <QFile>
#include <QPaintEvent>
#include <QTimer>
#include <QWidget>

#include <time.h>

namespace
{
class Window : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_painted)
            return;
        m_painted = true;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        QFile file(qEnvironmentVariable("QUILLARK_BENCH_PROBE"));
        if (file.open(QIODevice::Append | QIODevice::Text))
            file.write("window " +
                       QByteArray::number(qint64(now.tv_sec) * 1000000000 + now.tv_nsec) + '\n');
        if (qEnvironmentVariableIntValue("QUILLARK_BENCH_EXIT") == 1)
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }

private:
    bool m_painted = false;
};
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Window window;
    window.resize(1280, 800);
    window.show();
    return app.exec();
}
