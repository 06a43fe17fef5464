#pragma once

#include <QString>

// Keys of a project file, shared by its reader and its writer.
namespace ProjectKeys
{
inline const QString kProjectName = QStringLiteral("projectName");
inline const QString kDataInterval = QStringLiteral("DataInterval");
inline const QString kDatabaseName = QStringLiteral("databaseName");
inline const QString kDeviceList = QStringLiteral("DeviceList");
inline const QString kBackup = QStringLiteral("Backup");

inline const QString kDevices = QStringLiteral("devices");
inline const QString kDeviceInterface = QStringLiteral("DeviceInterface");
inline const QString kDevicePort = QStringLiteral("DevicePort");
inline const QString kDeviceModel = QStringLiteral("DeviceModel");
inline const QString kNodes = QStringLiteral("nodes");

inline const QString kStartAddress = QStringLiteral("StartAddress");
inline const QString kDeviceName = QStringLiteral("DeviceName");
inline const QString kDeviceNumber = QStringLiteral("DeviceNumber");
inline const QString kCh1Name = QStringLiteral("Ch1Name");
inline const QString kCh2Name = QStringLiteral("Ch2Name");
inline const QString kCh1Unit = QStringLiteral("ch1_unit");
inline const QString kCh1Min = QStringLiteral("ch1_min");
inline const QString kCh1Max = QStringLiteral("ch1_max");
inline const QString kCh1Custom = QStringLiteral("ch1_custom");
inline const QString kCh2Unit = QStringLiteral("ch2_unit");
inline const QString kCh2Min = QStringLiteral("ch2_min");
inline const QString kCh2Max = QStringLiteral("ch2_max");
inline const QString kCh2Custom = QStringLiteral("ch2_custom");

inline const QString kRecordStartTime = QStringLiteral("record_start_time");
inline const QString kRecordStopTime = QStringLiteral("record_stop_time");
} // namespace ProjectKeys
