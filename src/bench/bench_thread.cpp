#include "bench/bench_thread.h"

#include <QMetaObject>
#include <QTimer>
#include <condition_variable>
#include <mutex>

BenchThread::BenchThread() : home_(new QObject)
{
    thread_.setObjectName(QStringLiteral("bench"));
    for (int id = 0; id < kTimerCount; ++id) {
        auto* t = new QTimer(home_);
        t->setTimerType(Qt::PreciseTimer);
        QObject::connect(t, &QTimer::timeout, home_, [this, id] {
            if (onTick_)
                onTick_(id);
        });
        timers_[static_cast<std::size_t>(id)] = t;
    }
    home_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, home_, &QObject::deleteLater);
    thread_.start();
}

BenchThread::~BenchThread()
{
    stop();
}

void BenchThread::stop()
{
    if (!thread_.isRunning())
        return;
    // The timers stop on their own thread, then the loop ends.
    runAndWait([this] {
        for (QTimer* t : timers_)
            t->stop();
    });
    thread_.quit();
    thread_.wait();
}

bool BenchThread::isCurrent() const
{
    return QThread::currentThread() == &thread_;
}

void BenchThread::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(home_, std::move(work), Qt::QueuedConnection);
}

void BenchThread::runAndWait(const std::function<void()>& work)
{
    if (isCurrent() || !thread_.isRunning()) {
        work();
        return;
    }
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    post([&] {
        work();
        std::lock_guard lock(m);
        done = true;
        cv.notify_all();
    });
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
}

void BenchThread::setTickHandler(std::function<void(int)> onTick)
{
    onTick_ = std::move(onTick);
}

void BenchThread::startTimer(int id, int periodMs)
{
    if (id < 0 || id >= kTimerCount)
        return;
    QTimer* t = timers_[static_cast<std::size_t>(id)];
    if (isCurrent())
        t->start(periodMs);
    else
        post([t, periodMs] { t->start(periodMs); });
}

void BenchThread::killTimer(int id)
{
    if (id < 0 || id >= kTimerCount)
        return;
    QTimer* t = timers_[static_cast<std::size_t>(id)];
    if (isCurrent())
        t->stop();
    else
        post([t] { t->stop(); });
}

bool BenchThread::timerActive(int id) const
{
    if (id < 0 || id >= kTimerCount)
        return false;
    return timers_[static_cast<std::size_t>(id)]->isActive();
}
