#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <type_traits>

// Carrying work from the batch worker over to the thread that owns a Qt object
// (the interface thread). Work posted from one thread to one object runs in
// the order it was posted.
namespace interface_thread
{
inline bool isCurrent(const QObject* context)
{
    return QThread::currentThread() == context->thread();
}

// Runs work on context's thread and gives back its result; a caller on another
// thread waits until it has run. Never call it from a thread that the
// interface thread is itself waiting for.
template <typename Work> std::invoke_result_t<Work> callAndWait(QObject* context, Work work)
{
    if (isCurrent(context))
        return work();
    std::invoke_result_t<Work> result{};
    QMetaObject::invokeMethod(
        context, [&result, &work] { result = work(); }, Qt::BlockingQueuedConnection);
    return result;
}
} // namespace interface_thread
