#include "common/plaintext.h"

#include <QLabel>
#include <QTextDocument>

QString PlainText::toolTip(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

void PlainText::applyTo(QWidget *root)
{
    if (!root)
        return;
    if (auto *label = qobject_cast<QLabel *>(root))
        label->setTextFormat(Qt::PlainText);
    const QList<QLabel *> labels = root->findChildren<QLabel *>();
    for (QLabel *label : labels)
        label->setTextFormat(Qt::PlainText);
}
