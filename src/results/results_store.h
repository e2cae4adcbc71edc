#pragma once
// The results store of a bench. Tests hand it finished results and go on:
// a thread of its own writes each result to the bench's SQLite file and, when
// a server is set, sends the file's outbox on to it. A server that cannot be
// reached holds nothing up; its results wait in the outbox and go when it is
// back, each once.
#include "results/result_row.h"
#include "results/results_location.h"

#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

struct ResultsStoreOptions {
    QString localPath;                        // the bench's SQLite file
    std::optional<ResultsLocation> server;    // the line's server, if any
    int retryMs = 30000;                      // between attempts to reach a server or file that failed
};

class ResultsStore {
public:
    explicit ResultsStore(ResultsStoreOptions options);
    // Writes what is queued (bounded by a few seconds for the server) and stops.
    ~ResultsStore();
    ResultsStore(const ResultsStore&) = delete;
    ResultsStore& operator=(const ResultsStore&) = delete;

    // Any thread; returns at once.
    void record(ResultRow row);

    // Waits until the store has tried to write every recorded result to the
    // SQLite file and made one attempt to deliver the outbox; false when a
    // result is not in the file (it could not be written, or `timeoutMs`
    // ran out).
    bool flush(int timeoutMs);

    // Called once (from the store's thread) the first time results cannot go
    // where they should: the server is away, or the file cannot be written.
    // `text` says what happened and what becomes of the results; `detail`
    // is the database's own error.
    using Notice = std::function<void(const QString& text, const QString& detail)>;
    void setNotice(Notice notice);

    struct Status {
        int written = 0;       // results in the SQLite file since start
        int delivered = 0;     // results handed to the server since start
        int queued = -1;       // results waiting in the outbox (-1 unknown)
        bool serverReachable = false;
        QString lastError;
    };
    Status status() const;

    const ResultsStoreOptions& options() const { return options_; }

private:
    void run();
    void noticeOnce(const QString& text, const QString& detail);

    ResultsStoreOptions options_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<ResultRow> pending_;
    Notice notice_;
    bool noticed_ = false;
    bool stopping_ = false;
    std::uint64_t recorded_ = 0;   // rows handed to record()
    std::uint64_t handled_ = 0;    // rows the thread has taken up and tried
    std::uint64_t rounds_ = 0;     // rounds finished
    std::uint64_t flushAsked_ = 0; // flush() calls
    std::uint64_t flushServed_ = 0;
    Status status_;
    std::thread thread_;
};

// The store of this bench as the settings have it: results.sqlite at the data
// root, and the server QUILLMARK_RESULTS (or the settings) name. A server URL
// that cannot be read is reported in `error` and left out.
ResultsStoreOptions configuredResultsStore(QString* error);
