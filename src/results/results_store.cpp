#include "results/results_store.h"

#include "common/logging.h"
#include "results/results_database.h"

#include <QStringList>
#include <chrono>

namespace {
// Rows per transaction when the outbox is sent on.
constexpr int kDeliveryBatch = 500;
}  // namespace

ResultsStore::ResultsStore(ResultsStoreOptions options) : options_(std::move(options))
{
    thread_ = std::thread([this] { run(); });
}

ResultsStore::~ResultsStore()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ResultsStore::setNotice(Notice notice)
{
    std::lock_guard lock(mutex_);
    notice_ = std::move(notice);
}

void ResultsStore::record(ResultRow row)
{
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(row));
        ++recorded_;
    }
    wake_.notify_all();
}

bool ResultsStore::flush(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    const std::uint64_t target = recorded_;
    const std::uint64_t ask = ++flushAsked_;
    wake_.notify_all();
    // A round that served this flush has tried everything recorded before
    // it; whether the file took it all is the answer.
    done_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return flushServed_ >= ask; });
    return flushServed_ >= ask && handled_ >= target;
}

ResultsStore::Status ResultsStore::status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

void ResultsStore::noticeOnce(const QString& text, const QString& detail)
{
    Notice notice;
    {
        std::lock_guard lock(mutex_);
        status_.lastError = text + ' ' + detail;
        if (noticed_)
            return;
        noticed_ = true;
        notice = notice_;
    }
    qCInfo(lcResults).noquote() << text << detail;
    if (notice)
        notice(text, detail);
}

void ResultsStore::run()
{
    ResultsDatabase local(ResultsLocation::sqlite(options_.localPath));
    std::optional<ResultsDatabase> server;
    if (options_.server)
        server.emplace(*options_.server);
    std::deque<ResultRow> unwritten;  // taken up, not yet in the file
    using Clock = std::chrono::steady_clock;
    Clock::time_point nextServerTry = Clock::now();
    Clock::time_point nextFileTry = Clock::now();

    for (;;) {
        bool stopping = false;
        std::uint64_t flushing = 0;
        {
            std::unique_lock lock(mutex_);
            auto due = [&] {
                return stopping_ || !pending_.empty() || rounds_ == 0 || flushAsked_ != flushServed_ ||
                       (server && status_.queued != 0 && Clock::now() >= nextServerTry) ||
                       (!unwritten.empty() && Clock::now() >= nextFileTry);
            };
            const auto wakeAt = std::min(unwritten.empty() ? Clock::time_point::max() : nextFileTry,
                                         server && status_.queued != 0 ? nextServerTry : Clock::time_point::max());
            if (wakeAt == Clock::time_point::max())
                wake_.wait(lock, due);
            else
                wake_.wait_until(lock, wakeAt, due);
            stopping = stopping_;
            flushing = flushAsked_;
            while (!pending_.empty()) {
                unwritten.push_back(std::move(pending_.front()));
                pending_.pop_front();
            }
        }
        const std::size_t taken = unwritten.size();

        // Into the bench's file first: from here on nothing is lost.
        const bool now = stopping || flushing != flushServed_ || rounds_ == 0;
        if (!unwritten.empty() && (Clock::now() >= nextFileTry || now)) {
            std::vector<ResultRow> rows(unwritten.begin(), unwritten.end());
            if (local.insert(rows, server.has_value())) {
                unwritten.clear();
                std::lock_guard lock(mutex_);
                status_.written += static_cast<int>(rows.size());
            } else {
                local.close();
                nextFileTry = Clock::now() + std::chrono::milliseconds(options_.retryMs);
                noticeOnce(QStringLiteral("Results cannot be written to %1; they are kept in memory and written "
                                          "when it can be.")
                               .arg(options_.localPath),
                           local.error().simplified());
            }
        }

        // Then the outbox on to the server, in batches, until it is empty.
        int queued = 0;
        if (server) {
            if (Clock::now() >= nextServerTry || now || taken > 0) {
                bool reachable = true;
                for (;;) {
                    const std::vector<ResultRow> batch = local.queued(kDeliveryBatch);
                    if (batch.empty())
                        break;
                    if (!server->insert(batch)) {
                        reachable = false;
                        break;
                    }
                    QStringList uids;
                    for (const ResultRow& r : batch)
                        uids << r.uid;
                    // Sent but still queued if this fails: sent again later,
                    // and the server keeps one copy of each uid.
                    if (!local.dequeue(uids))
                        break;
                    std::lock_guard lock(mutex_);
                    status_.delivered += static_cast<int>(batch.size());
                }
                if (!reachable) {
                    server->close();
                    nextServerTry = Clock::now() + std::chrono::milliseconds(options_.retryMs);
                    noticeOnce(QStringLiteral("The results server %1 cannot be reached; results are kept on this "
                                              "bench and sent when it is back.")
                                   .arg(options_.server->describe()),
                               server->error().simplified());
                }
                std::lock_guard lock(mutex_);
                if (reachable && !status_.serverReachable && noticed_)
                    qCInfo(lcResults) << "the results server is reachable again";
                status_.serverReachable = reachable;
            }
            queued = local.queuedCount();
        }
        {
            std::lock_guard lock(mutex_);
            status_.queued = server ? queued : 0;
            if (unwritten.empty())
                handled_ = recorded_ - pending_.size();
            ++rounds_;
            flushServed_ = flushing;
        }
        done_.notify_all();
        if (stopping)
            break;
    }
    if (!unwritten.empty())
        for (const ResultRow& r : unwritten)
            qCWarning(lcResults).noquote() << "result not stored:" << r.command << r.verdict << r.serial
                                           << storedTime(r.timeUtc);
}

ResultsStoreOptions configuredResultsStore(QString* error)
{
    ResultsStoreOptions o;
    o.localPath = defaultResultsPath();
    const QString url = configuredResultsUrl();
    if (!url.isEmpty())
        o.server = ResultsLocation::parse(url, error);
    return o;
}
