#pragma once

#include <QString>
#include <QStringList>

// The forwarding settings of one project, kept in the project file under the
// group "Forwarding". Both targets are off while their address is empty.
// Readers that do not know the group simply ignore it.
struct ForwardSettings {
    static const QString kGroup;
    static const QString kDefaultMqttPrefix;
    static constexpr int kDefaultMqttPort = 1883;

    QString influxUrl;                       // "InfluxUrl", empty = off
    QString influxDatabase;                  // "InfluxDatabase" (1.x)
    QString influxUser;                      // "InfluxUser" (1.x, optional)
    QString influxPassword;                  // "InfluxPassword"
    QString influxOrg;                       // "InfluxOrg" (2.x)
    QString influxBucket;                    // "InfluxBucket" (2.x)
    QString influxToken;                     // "InfluxToken" (2.x)
    QString mqttHost;                        // "MqttHost", empty = off
    int mqttPort = kDefaultMqttPort;         // "MqttPort"
    QString mqttUser;                        // "MqttUser"
    QString mqttPassword;                    // "MqttPassword"
    QString mqttPrefix = kDefaultMqttPrefix; // "MqttPrefix"
    QString mqttCaFile;                      // "MqttCaFile": TLS when set
    bool mqttFlat = false;                   // "MqttPayload": "flat" or "channels"

    bool influxEnabled() const { return !influxUrl.trimmed().isEmpty(); }
    bool mqttEnabled() const { return !mqttHost.trimmed().isEmpty(); }
    // The 2.x API is used as soon as a token, an organisation or a bucket is given.
    bool influxV2() const
    {
        return !influxToken.isEmpty() || !influxOrg.isEmpty() || !influxBucket.isEmpty();
    }
    // True when a password or token is stored.
    bool holdsSecret() const
    {
        return !influxPassword.isEmpty() || !influxToken.isEmpty() || !mqttPassword.isEmpty();
    }

    // Plain-text problems with the InfluxDB / MQTT settings, one sentence each;
    // empty when the target is off or its settings can be used. Without
    // `checkFiles` a CA file is not looked at (the target tells, and tries
    // again until a usable one is there).
    QStringList influxProblems() const;
    QStringList mqttProblems(bool checkFiles = true) const;

    // What a target's position belongs to: forwarding to another server,
    // database or topic starts from the first recorded row.
    QString influxIdentity() const;
    QString mqttIdentity() const;

    // Reads the group from a project file; missing keys keep their defaults.
    static ForwardSettings load(const QString &projectPath);
    // Writes the group into a project file, leaving every other key as it is.
    // A file that holds a password or token is made readable by its owner
    // only. False (with `error`) when the file could not be written.
    bool save(const QString &projectPath, QString *error = nullptr) const;
    // Restricts a project file holding a secret to its owner (mode 600);
    // called again after every rewrite of the file. True when nothing had to
    // be done or it worked.
    static bool protectFile(const QString &projectPath);
};
