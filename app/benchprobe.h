#pragma once

#include <QObject>
#include <QString>

// A benchmark hook, off unless QUILLARK_BENCH_PROBE names a file: it writes
// one line "<what> <monotonic ns>" when the main window ("window") and the
// project centre ("project") are first painted, so that a benchmark can time
// what the user sees from process start. With QUILLARK_BENCH_OPEN_RECENT=1
// it then activates the first entry of the start screen's recent list, as a
// double-click would; with QUILLARK_BENCH_EXIT=1 the program quits after the
// last thing it waits for was painted. With QUILLARK_BENCH_USE=1, 3 s after
// the project centre was painted it starts recording and opens the first
// device's chart view, as a user's two clicks would.
class BenchProbe : public QObject
{
    Q_OBJECT
public:
    // Installs the probe on the application when the environment asks for it.
    static void installIfAsked(QObject *application);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit BenchProbe(const QString &path, QObject *parent);
    void note(const char *what);
    void openRecent(QObject *window);
    void startUsing(QObject *center);

    QString m_path;
    bool m_openRecent = false;
    bool m_exit = false;
    bool m_use = false;
    bool m_windowSeen = false;
    bool m_projectSeen = false;
};
