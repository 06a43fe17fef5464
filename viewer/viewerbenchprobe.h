#pragma once

#include <QObject>
#include <QString>

class ViewerWindow;

// A benchmark hook, off unless QUILLARK_BENCH_PROBE names a file: it writes
// one line "<what> <monotonic ns>" when the viewer's chart is first painted
// with a file open ("chart"), and when the summary is ready ("summary").
// With QUILLARK_BENCH_WHEEL=N it then turns the mouse wheel N times over the
// middle of the chart, one step after the other, noting "wheel" when a step
// is sent and "wheel-painted" when the chart it caused is painted; with
// QUILLARK_BENCH_WAIT_SUMMARY=1 it waits for the summary before that. With
// QUILLARK_BENCH_EXIT=1 it notes the peak resident memory ("vmhwm <kB>")
// and quits once done.
class ViewerBenchProbe : public QObject
{
    Q_OBJECT
public:
    static void installIfAsked(ViewerWindow *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ViewerBenchProbe(const QString &path, ViewerWindow *window);
    void note(const QByteArray &what, qint64 value = -1);
    void next();

    QString m_path;
    ViewerWindow *m_window;
    int m_wheels = 0;
    bool m_waitSummary = false;
    bool m_exit = false;
    bool m_chartSeen = false;
    bool m_summarySeen = false;
    bool m_wheelPending = false;
    bool m_started = false;
};
