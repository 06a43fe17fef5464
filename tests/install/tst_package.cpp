#include "installcheck.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

// The Debian package of this build tree: made by cpack into a temporary
// folder, its control fields read with dpkg-deb and checked by lintian. What
// it installs is the installation test's business.
class tst_Package : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void control();
    void lintianFindsNoError();

private:
    QTemporaryDir m_workDir;
    QString m_deb;
    QProcess m_lintian; // runs while the other checks do
};

void tst_Package::initTestCase()
{
    QVERIFY(m_workDir.isValid());
    const InstallCheck::Result cpack = InstallCheck::run(
        QStringLiteral(QK_CPACK_COMMAND),
        {QStringLiteral("--config"),
         TestSupport::binaryDir() + QStringLiteral("/CPackConfig.cmake"), QStringLiteral("-G"),
         QStringLiteral("DEB"), QStringLiteral("-B"), m_workDir.path()},
        QProcessEnvironment::systemEnvironment(), 120000);
    QVERIFY2(cpack.ok(), qPrintable(cpack.describe(QStringLiteral("cpack"))));
    const QStringList debs =
        QDir(m_workDir.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = m_workDir.filePath(debs.first());
    QVERIFY2(debs.first().startsWith(QLatin1String("quillark-lite-modbus_")),
             qPrintable(debs.first()));
    m_lintian.start(
        QStringLiteral("lintian"),
        {QStringLiteral("--no-cfg"), QStringLiteral("--fail-on"), QStringLiteral("error"), m_deb});
}

void tst_Package::control()
{
    const InstallCheck::Result fields = InstallCheck::run(
        QStringLiteral("dpkg-deb"),
        {QStringLiteral("-f"), m_deb, QStringLiteral("Package"), QStringLiteral("Version"),
         QStringLiteral("Section"), QStringLiteral("Maintainer"), QStringLiteral("Depends"),
         QStringLiteral("Description")});
    QVERIFY2(fields.ok(), qPrintable(fields.describe(QStringLiteral("dpkg-deb -f"))));
    QHash<QString, QString> control;
    QString last;
    for (const QString &line : fields.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char(' ')))
            control[last] += QLatin1Char('\n') + line;
        else
            control.insert(last = line.section(QStringLiteral(": "), 0, 0),
                           line.section(QStringLiteral(": "), 1));
    }
    QCOMPARE(control.value(QStringLiteral("Package")), QStringLiteral("quillark-lite-modbus"));
    QCOMPARE(control.value(QStringLiteral("Version")), QStringLiteral("1.03"));
    QCOMPARE(control.value(QStringLiteral("Section")), QStringLiteral("science"));
    QVERIFY(control.value(QStringLiteral("Maintainer")).contains(QLatin1Char('@')));
    QVERIFY2(control.value(QStringLiteral("Description")).count(QLatin1Char('\n')) >= 3,
             "no long description");

    // Worked out from the binaries by dpkg-shlibdeps, not written by hand.
    const QStringList depends =
        control.value(QStringLiteral("Depends")).split(QStringLiteral(", "));
    auto needs = [&depends](const QString &package) {
        return std::any_of(depends.begin(), depends.end(), [&package](const QString &dependency) {
            return dependency == package || dependency.startsWith(package + QLatin1Char(' '));
        });
    };
    for (const char *package : {"libc6", "libqt5core5a", "libqt5widgets5", "libqt5serialbus5",
                                "libqt5multimedia5", "libqt5network5", "libsqlite3-0"})
        QVERIFY2(needs(QLatin1String(package)),
                 qPrintable(QStringLiteral("%1 missing in: ").arg(QLatin1String(package)) +
                            control.value(QStringLiteral("Depends"))));
}

void tst_Package::lintianFindsNoError()
{
    InstallCheck::Result lintian;
    // It may well have ended while the other checks ran.
    lintian.finished = TestSupport::waitUntilFinished(m_lintian, 150000);
    if (!lintian.finished)
        m_lintian.kill();
    lintian.exitCode = m_lintian.exitStatus() == QProcess::NormalExit ? m_lintian.exitCode() : -1;
    lintian.out = QString::fromLocal8Bit(m_lintian.readAllStandardOutput());
    lintian.err = QString::fromLocal8Bit(m_lintian.readAllStandardError());
    QVERIFY2(lintian.finished, qPrintable(lintian.describe(QStringLiteral("lintian"))));
    const QStringList lines = lintian.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1String("E: ")))
            qInfo().noquote() << line;
    }
    for (const QString &line : lines)
        QVERIFY2(!line.startsWith(QLatin1String("E: ")), qPrintable(line));
    QVERIFY2(lintian.exitCode == 0, qPrintable(lintian.describe(QStringLiteral("lintian"))));
}

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_package.moc"
