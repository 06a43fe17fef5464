#pragma once

#include <QString>
#include <QtPlugin>

class QObject;

// The narrow interface through which a connection poller drives one gateway:
// open, close, request a read, and learn where to connect and what to read.
// A holder of an AbstractDevice* subscribes to the implementation's
// readyRead(QByteArray) signal through connectSignal().
class AbstractDevice
{
public:
    virtual ~AbstractDevice() = default;

    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    virtual bool open() = 0;
    virtual void write() = 0;
    virtual QString address() const = 0;
    virtual void connectSignal(const char *signal, QObject *receiver, const char *method) = 0;
    virtual bool disconnectSignal(const char *signal, QObject *receiver, const char *method) = 0;
    virtual void setReadRange(int start, int count) = 0;
    virtual void setDeviceInfo(QString address, quint16 port) = 0;

    // True while a request is under way (connecting or waiting for its
    // reply); a write() meanwhile sends nothing, so that at most one request
    // is in flight and every reply answers the request that asked for it.
    virtual bool isBusy() const { return false; }
};

#define AbstractDevice_iid "com.quillark.AbstractDevice"
Q_DECLARE_INTERFACE(AbstractDevice, AbstractDevice_iid)
