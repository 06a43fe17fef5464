#pragma once

#include <QString>

class QWidget;

// Text that comes from a project file, the settings or the network is shown
// literally: Qt would otherwise take anything that looks like markup for
// rich text, render "<b>" bold and load the images an "<img>" names.
class PlainText
{
public:
    // A tool tip that shows `text` literally (tool tips have no text format
    // of their own, so markup-like text is escaped).
    static QString toolTip(const QString &text);
    // Makes `root` and every label under it show its text literally. Call
    // once the form is built; labels added later need their own call.
    static void applyTo(QWidget *root);
};
