#include "view/labelelider.h"

#include "common/plaintext.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QSizePolicy>
#include <QVariant>

namespace
{
const char *const kFullTextProperty = "qkFullText";
}

LabelElider::LabelElider(QLabel *label) : QObject(label)
{
    setObjectName(QStringLiteral("qk_label_elider"));
    // The label must not ask its layout for the width of its whole text.
    QSizePolicy policy = label->sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    label->setSizePolicy(policy);
    label->installEventFilter(this);
}

void LabelElider::setText(QLabel *label, const QString &text)
{
    if (!label)
        return;
    if (!label->findChild<LabelElider *>(QStringLiteral("qk_label_elider"),
                                         Qt::FindDirectChildrenOnly))
        new LabelElider(label);
    // Names from project files are shown literally, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setProperty(kFullTextProperty, text);
    elide(label);
}

QString LabelElider::fullText(const QLabel *label)
{
    if (!label)
        return QString();
    const QVariant full = label->property(kFullTextProperty);
    return full.isValid() ? full.toString() : label->text();
}

void LabelElider::elide(QLabel *label)
{
    const QString full = label->property(kFullTextProperty).toString();
    // A label not laid out yet still has Qt's default width, which is close
    // to a tile's; the resize that follows the first layout elides again.
    const int width = qMax(label->width() - 2 * label->margin() - 2, 8);
    const QString shown = label->fontMetrics().elidedText(full, Qt::ElideRight, width);
    if (label->text() != shown)
        label->setText(shown);
    label->setToolTip(shown == full ? QString() : PlainText::toolTip(full));
}

bool LabelElider::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize || event->type() == QEvent::FontChange) {
        if (auto *label = qobject_cast<QLabel *>(watched))
            elide(label);
    }
    return QObject::eventFilter(watched, event);
}
