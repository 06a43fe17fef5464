#pragma once

#include <QMutex>
#include <QQueue>
#include <QVector>
#include <QWaitCondition>

#include <functional>

#include "record/recordreader.h"

// Blocks of rows handed from the thread that reads them to the one that sums
// them up, so that stepping through the file and the figures use a core each.
// A full queue holds the reader back: memory stays bounded whatever the
// number of rows.
class SampleQueue
{
public:
    explicit SampleQueue(int capacity);

    // Queues `block` (left empty), waiting while the queue is full.
    void push(QVector<RecordSample> &block);
    // No block comes after this.
    void close();
    // Takes the oldest block, waiting for one; false once closed and empty.
    bool pop(QVector<RecordSample> *block);

    // Runs `read` on a thread of its own, which pushes blocks into the queue,
    // and hands each block to `take` on this thread, in order. Returns what
    // `read` returned, once it is done.
    static bool relay(const std::function<bool(SampleQueue &)> &read,
                      const std::function<void(const QVector<RecordSample> &)> &take,
                      int capacity = 8);

private:
    QMutex m_mutex;
    QWaitCondition m_changed;
    QQueue<QVector<RecordSample>> m_blocks;
    int m_capacity;
    bool m_closed = false;
};
