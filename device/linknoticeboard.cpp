#include "device/linknoticeboard.h"

#include <QLabel>

LinkNoticeBoard::LinkNoticeBoard(QObject *parent) : QObject(parent) {}

QString LinkNoticeBoard::text() const
{
    QString text;
    for (const Notice &notice : m_notices) {
        if (!text.isEmpty())
            text += QStringLiteral("   ");
        text += notice.line;
    }
    return text;
}

bool LinkNoticeBoard::anyLost() const
{
    for (const Notice &notice : m_notices) {
        if (notice.lost)
            return true;
    }
    return false;
}

void LinkNoticeBoard::attachLabel(QLabel *label)
{
    label->setTextFormat(Qt::PlainText);
    auto show = [this, label](const QString &text) {
        label->setStyleSheet(
            anyLost() ? QStringLiteral("background-color: transparent;color: rgb(160, 24, 24);")
                      : QStringLiteral("background-color: transparent;color: rgb(24, 96, 56);"));
        label->setText(text);
        label->setToolTip(text);
    };
    show(text());
    connect(this, &LinkNoticeBoard::textChanged, label, show);
}

void LinkNoticeBoard::clear()
{
    if (m_notices.isEmpty())
        return;
    m_notices.clear();
    changed();
}

void LinkNoticeBoard::post(QString gateway, bool lost, QString line)
{
    for (int i = m_notices.size() - 1; i >= 0; --i) {
        if (m_notices.at(i).gateway == gateway)
            m_notices.remove(i);
    }
    m_notices.append({gateway, line, lost});
    if (!lost) {
        // The line says when; it need not stay once read. A later notice of
        // the same gateway has replaced it by then, and nothing is dropped.
        QTimer::singleShot(m_backShownMs, this, [this, gateway, line] {
            for (int i = 0; i < m_notices.size(); ++i) {
                if (m_notices.at(i).gateway == gateway && m_notices.at(i).line == line &&
                    !m_notices.at(i).lost) {
                    m_notices.remove(i);
                    changed();
                    return;
                }
            }
        });
    }
    changed();
}

void LinkNoticeBoard::changed()
{
    emit textChanged(text());
}
