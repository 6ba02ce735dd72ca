// Linked into the tests of a ThreadSanitizer build only. Qt's mutexes and read-write locks are
// futexes inside a library that ThreadSanitizer did not instrument, and a QThread ends without a
// join, so ThreadSanitizer cannot see the order they give and reports what they guard as races.
// These definitions take the place of the library's functions for the calls made from the tests
// and the engine: each one runs the library's own function and tells ThreadSanitizer what it did.

#include <QMutex>
#include <QReadWriteLock>
#include <QThread>
#include <QVariant>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);

namespace {

template <typename Function>
Function library(const char *symbol)
{
    void *found = dlsym(RTLD_NEXT, symbol);
    if (!found) {
        std::fprintf(stderr, "TsanQtLocks: %s not found in the Qt library\n", symbol);
        std::abort();
    }
    return reinterpret_cast<Function>(found);
}

// The library's function of that symbol, looked up once.
#define QT_ORIGINAL(Type, symbol) static const auto original = library<Type>(symbol)

} // namespace

void QBasicMutex::lockInternal() QT_MUTEX_LOCK_NOEXCEPT
{
    QT_ORIGINAL(void (*)(QBasicMutex *), "_ZN11QBasicMutex12lockInternalEv");
    original(this);
    __tsan_acquire(this);
}

bool QBasicMutex::lockInternal(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    QT_ORIGINAL(bool (*)(QBasicMutex *, int), "_ZN11QBasicMutex12lockInternalEi");
    const bool locked = original(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QBasicMutex::unlockInternal() noexcept
{
    QT_ORIGINAL(void (*)(QBasicMutex *), "_ZN11QBasicMutex14unlockInternalEv");
    __tsan_release(this);
    original(this);
}

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    QT_ORIGINAL(void (*)(QMutex *), "_ZN6QMutex4lockEv");
    original(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    QT_ORIGINAL(bool (*)(QMutex *, int), "_ZN6QMutex7tryLockEi");
    const bool locked = original(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    QT_ORIGINAL(void (*)(QMutex *), "_ZN6QMutex6unlockEv");
    __tsan_release(this);
    original(this);
}

// Readers are ordered among themselves too: more order than the lock gives, never less.
void QReadWriteLock::lockForRead()
{
    QT_ORIGINAL(void (*)(QReadWriteLock *), "_ZN14QReadWriteLock11lockForReadEv");
    original(this);
    __tsan_acquire(this);
}

bool QReadWriteLock::tryLockForRead()
{
    QT_ORIGINAL(bool (*)(QReadWriteLock *), "_ZN14QReadWriteLock14tryLockForReadEv");
    const bool locked = original(this);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    QT_ORIGINAL(bool (*)(QReadWriteLock *, int), "_ZN14QReadWriteLock14tryLockForReadEi");
    const bool locked = original(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QReadWriteLock::lockForWrite()
{
    QT_ORIGINAL(void (*)(QReadWriteLock *), "_ZN14QReadWriteLock12lockForWriteEv");
    original(this);
    __tsan_acquire(this);
}

bool QReadWriteLock::tryLockForWrite()
{
    QT_ORIGINAL(bool (*)(QReadWriteLock *), "_ZN14QReadWriteLock15tryLockForWriteEv");
    const bool locked = original(this);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    QT_ORIGINAL(bool (*)(QReadWriteLock *, int), "_ZN14QReadWriteLock15tryLockForWriteEi");
    const bool locked = original(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QReadWriteLock::unlock()
{
    QT_ORIGINAL(void (*)(QReadWriteLock *), "_ZN14QReadWriteLock6unlockEv");
    __tsan_release(this);
    original(this);
}

// A thread's last step before it counts as finished is its finished() signal, on the thread
// itself: from there on, whoever sees it finished sees all it did.
void QThread::start(Priority priority)
{
    QT_ORIGINAL(void (*)(QThread *, Priority), "_ZN7QThread5startENS_8PriorityE");
    if (!property("tsanFinishAnnotated").toBool()) {
        setProperty("tsanFinishAnnotated", true);
        QObject::connect(this, &QThread::finished, this, [this]() { __tsan_release(this); }, Qt::DirectConnection);
    }
    original(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    QT_ORIGINAL(bool (*)(QThread *, QDeadlineTimer), "_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = original(this, deadline);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

bool QThread::wait(unsigned long time)
{
    QT_ORIGINAL(bool (*)(QThread *, unsigned long), "_ZN7QThread4waitEm");
    const bool ended = original(this, time);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

bool QThread::isFinished() const
{
    QT_ORIGINAL(bool (*)(const QThread *), "_ZNK7QThread10isFinishedEv");
    const bool finished = original(this);
    if (finished)
        __tsan_acquire(const_cast<QThread *>(this));
    return finished;
}

bool QThread::isRunning() const
{
    QT_ORIGINAL(bool (*)(const QThread *), "_ZNK7QThread9isRunningEv");
    const bool running = original(this);
    if (!running)
        __tsan_acquire(const_cast<QThread *>(this));
    return running;
}
