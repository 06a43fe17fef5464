#include "forward/forwardsettings.h"

#include "common/projectsettings.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSettings>
#include <QUrl>

const QString ForwardSettings::kGroup = QStringLiteral("Forwarding");
const QString ForwardSettings::kDefaultMqttPrefix = QStringLiteral("quillark");

namespace
{
const QString kInfluxUrl = QStringLiteral("InfluxUrl");
const QString kInfluxDatabase = QStringLiteral("InfluxDatabase");
const QString kInfluxUser = QStringLiteral("InfluxUser");
const QString kInfluxPassword = QStringLiteral("InfluxPassword");
const QString kInfluxOrg = QStringLiteral("InfluxOrg");
const QString kInfluxBucket = QStringLiteral("InfluxBucket");
const QString kInfluxToken = QStringLiteral("InfluxToken");
const QString kMqttHost = QStringLiteral("MqttHost");
const QString kMqttPort = QStringLiteral("MqttPort");
const QString kMqttUser = QStringLiteral("MqttUser");
const QString kMqttPassword = QStringLiteral("MqttPassword");
const QString kMqttPrefix = QStringLiteral("MqttPrefix");
const QString kMqttCaFile = QStringLiteral("MqttCaFile");
const QString kMqttPayload = QStringLiteral("MqttPayload");
const QString kFlat = QStringLiteral("flat");

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
} // namespace

QStringList ForwardSettings::influxProblems() const
{
    QStringList problems;
    if (!influxEnabled())
        return problems;
    const QUrl url(influxUrl.trimmed(), QUrl::StrictMode);
    if (!url.isValid() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
        url.host().isEmpty())
        problems << QStringLiteral(
            "The InfluxDB address must look like http://host:8086 (or https://).");
    else if (!url.query().isEmpty() || !url.fragment().isEmpty())
        problems << QStringLiteral(
            "The InfluxDB address must not carry a query (?...) or a fragment (#...).");
    else if (!url.userInfo().isEmpty())
        problems << QStringLiteral(
            "Put the InfluxDB user and password in their own fields, not in the address.");
    if (influxV2()) {
        if (influxOrg.trimmed().isEmpty())
            problems << QStringLiteral("InfluxDB 2.x needs an organisation.");
        if (influxBucket.trimmed().isEmpty())
            problems << QStringLiteral("InfluxDB 2.x needs a bucket.");
        if (influxToken.isEmpty())
            problems << QStringLiteral("InfluxDB 2.x needs a token.");
        if (!influxDatabase.isEmpty() || !influxUser.isEmpty() || !influxPassword.isEmpty())
            problems << QStringLiteral(
                "Give either a database with user and password (InfluxDB 1.x) "
                "or an organisation, bucket and token (InfluxDB 2.x), not both.");
    } else {
        if (influxDatabase.trimmed().isEmpty())
            problems << QStringLiteral("InfluxDB 1.x needs a database name.");
        if (influxUser.isEmpty() != influxPassword.isEmpty())
            problems << QStringLiteral("Give both an InfluxDB user and a password, or neither.");
    }
    return problems;
}

QStringList ForwardSettings::mqttProblems(bool checkFiles) const
{
    QStringList problems;
    if (!mqttEnabled())
        return problems;
    const QString host = mqttHost.trimmed();
    const bool ipv6 = host.contains(QLatin1Char(':')) && !QHostAddress(host).isNull();
    if (host.contains(QLatin1Char('/')) || host.contains(QLatin1Char(' ')) ||
        (host.contains(QLatin1Char(':')) && !ipv6))
        problems << QStringLiteral(
            "The MQTT host must be a host name or an IP address, without port or scheme.");
    if (mqttPort < 1 || mqttPort > 65535)
        problems << QStringLiteral("The MQTT port must be between 1 and 65535.");
    if (mqttUser.isEmpty() && !mqttPassword.isEmpty())
        problems << QStringLiteral("An MQTT password needs a user name.");
    if (mqttPrefix.contains(QLatin1Char('+')) || mqttPrefix.contains(QLatin1Char('#')))
        problems << QStringLiteral("The MQTT topic prefix must not contain + or #.");
    if (checkFiles && !mqttCaFile.isEmpty()) {
        const QFileInfo ca(mqttCaFile);
        if (!ca.isFile() || !ca.isReadable())
            problems << QStringLiteral("The CA file \"%1\" cannot be read.").arg(mqttCaFile);
    }
    return problems;
}

QString ForwardSettings::influxIdentity() const
{
    return QStringList{influxUrl.trimmed(), influxDatabase, influxOrg, influxBucket}.join(
        QLatin1Char('|'));
}

QString ForwardSettings::mqttIdentity() const
{
    return QStringList{mqttHost.trimmed(), QString::number(mqttPort), mqttPrefix}.join(
        QLatin1Char('|'));
}

ForwardSettings ForwardSettings::load(const QString &projectPath)
{
    ForwardSettings s;
    ProjectSettings fresh(projectPath);
    QSettings &file = fresh.settings();
    file.beginGroup(kGroup);
    s.influxUrl = file.value(kInfluxUrl).toString();
    s.influxDatabase = file.value(kInfluxDatabase).toString();
    s.influxUser = file.value(kInfluxUser).toString();
    s.influxPassword = file.value(kInfluxPassword).toString();
    s.influxOrg = file.value(kInfluxOrg).toString();
    s.influxBucket = file.value(kInfluxBucket).toString();
    s.influxToken = file.value(kInfluxToken).toString();
    s.mqttHost = file.value(kMqttHost).toString();
    bool ok = false;
    const int port = file.value(kMqttPort).toInt(&ok);
    s.mqttPort = ok ? port : kDefaultMqttPort;
    s.mqttUser = file.value(kMqttUser).toString();
    s.mqttPassword = file.value(kMqttPassword).toString();
    s.mqttPrefix = file.value(kMqttPrefix, kDefaultMqttPrefix).toString();
    s.mqttCaFile = file.value(kMqttCaFile).toString();
    s.mqttFlat = file.value(kMqttPayload).toString() == kFlat;
    return s;
}

bool ForwardSettings::save(const QString &projectPath, QString *error) const
{
    // Restrict the file before a secret goes into it; the file is replaced
    // by a copy that keeps its permissions.
    if (holdsSecret() && !protectFile(projectPath)) {
        if (error)
            *error = QStringLiteral("The project file cannot be made private to its owner.");
        return false;
    }
    const bool written = ProjectSettings::update(
        projectPath,
        [this](QSettings &file) {
            file.beginGroup(kGroup);
            file.setValue(kInfluxUrl, influxUrl.trimmed());
            file.setValue(kInfluxDatabase, influxDatabase.trimmed());
            file.setValue(kInfluxUser, influxUser);
            file.setValue(kInfluxPassword, influxPassword);
            file.setValue(kInfluxOrg, influxOrg.trimmed());
            file.setValue(kInfluxBucket, influxBucket.trimmed());
            file.setValue(kInfluxToken, influxToken);
            file.setValue(kMqttHost, mqttHost.trimmed());
            file.setValue(kMqttPort, mqttPort);
            file.setValue(kMqttUser, mqttUser);
            file.setValue(kMqttPassword, mqttPassword);
            file.setValue(kMqttPrefix, mqttPrefix);
            file.setValue(kMqttCaFile, mqttCaFile);
            file.setValue(kMqttPayload, mqttFlat ? kFlat : QStringLiteral("channels"));
            file.endGroup();
        },
        error);
    if (!written)
        return false;
    if (holdsSecret())
        protectFile(projectPath);
    return true;
}

bool ForwardSettings::protectFile(const QString &projectPath)
{
    QFile file(projectPath);
    if (!file.exists())
        return true;
    if ((file.permissions() & ~(kOwnerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser)) == 0)
        return true;
    return file.setPermissions(kOwnerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser);
}
