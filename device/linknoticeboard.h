#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

// The gateway notices of the open project, as one line for the status strip:
// a lost gateway stays listed ("127.0.0.1:1502 lost at 12:57:41") until it
// answers again; its "back" line then stays for a while and goes by itself.
class QLabel;

class LinkNoticeBoard : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDefaultBackShownMs = 60000;

    explicit LinkNoticeBoard(QObject *parent = nullptr);

    QString text() const;
    void clear();
    void setBackShownMs(int ms) { m_backShownMs = ms; }
    bool anyLost() const;
    // Shows the text on `label` (plain text, dark red while a gateway is lost).
    void attachLabel(QLabel *label);

public slots:
    // From ConfiguredDevice::linkNotice.
    void post(QString gateway, bool lost, QString line);

signals:
    void textChanged(QString text);

private:
    struct Notice {
        QString gateway;
        QString line;
        bool lost = false;
    };
    void changed();

    QVector<Notice> m_notices; // in the order they came
    int m_backShownMs = kDefaultBackShownMs;
};
