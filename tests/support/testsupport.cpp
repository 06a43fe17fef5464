#include "testsupport.h"

#include <QStandardPaths>

namespace TestSupport {

void isolateSettings()
{
    QStandardPaths::setTestModeEnabled(true);
}

QString sourceDir()
{
    return QStringLiteral(QK_SOURCE_DIR);
}

QString binaryDir()
{
    return QStringLiteral(QK_BINARY_DIR);
}

} // namespace TestSupport
