#pragma once
// What becomes of a finished capture's working file: the save dialog (or the
// destination the start was given), the decimal report, or the next
// numbered file. Runs on the bench thread once the capture worker has had
// the box's acknowledgement.
#include "bench/bench_context.h"

#include <QString>
#include <mutex>

class CaptureFate {
public:
    explicit CaptureFate(BenchContext& ctx) : ctx_(ctx) {}

    // The file a manual capture goes to instead of asking (empty: ask).
    void setDestination(const QString& path);
    void clearDestination() { setDestination({}); }

    // A manual capture: to the chosen file, or its decimal report there.
    // Returns where it landed; empty when the user cancelled or it failed
    // (the message shown), the working file then removed or kept as said.
    QString keepManual(const QString& workingPath, bool decimal);
    // To the next free numbered file; empty (message shown) when that failed.
    QString keepNumbered(const QString& workingPath);
    // The next free numbered file name (empty when none is left); the file
    // counter moves on to it. Any thread.
    QString nextNumberedPath();

private:
    QString chooseTarget();
    QString writeReport(const QString& workingPath);

    BenchContext& ctx_;
    std::mutex mutex_;      // destination_, and the counter's choice of a free number
    QString destination_;
};
