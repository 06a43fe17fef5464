#include "report/samplequeue.h"

#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>

SampleQueue::SampleQueue(int capacity) : m_capacity(std::max(1, capacity)) {}

void SampleQueue::push(QVector<RecordSample> &block)
{
    QMutexLocker lock(&m_mutex);
    while (m_blocks.size() >= m_capacity)
        m_changed.wait(&m_mutex);
    m_blocks.enqueue(std::move(block));
    block = QVector<RecordSample>();
    m_changed.wakeAll();
}

void SampleQueue::close()
{
    QMutexLocker lock(&m_mutex);
    m_closed = true;
    m_changed.wakeAll();
}

bool SampleQueue::pop(QVector<RecordSample> *block)
{
    QMutexLocker lock(&m_mutex);
    while (m_blocks.isEmpty() && !m_closed)
        m_changed.wait(&m_mutex);
    if (m_blocks.isEmpty())
        return false;
    *block = m_blocks.dequeue();
    m_changed.wakeAll();
    return true;
}

bool SampleQueue::relay(const std::function<bool(SampleQueue &)> &read,
                        const std::function<void(const QVector<RecordSample> &)> &take,
                        int capacity)
{
    SampleQueue queue(capacity);
    // A pool of its own: the reader starts at once even when the shared
    // pool is busy (it may run the very job that called us).
    QThreadPool pool;
    pool.setMaxThreadCount(1);
    QFuture<bool> reading = QtConcurrent::run(&pool, [&read, &queue]() {
        const bool ok = read(queue);
        queue.close();
        return ok;
    });
    QVector<RecordSample> block;
    while (queue.pop(&block))
        take(block);
    return reading.result();
}
