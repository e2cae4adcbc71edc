#pragma once
// The bench's state record: one per window, alive as long as it is.
// Everything a worker reads or writes is atomic or guarded; the interface
// settings are written on the bench thread under a lock and read by workers
// as a snapshot.
#include "bench/typed_texts.h"
#include "interface/frame_decoder.h"
#include "interface/interface_settings.h"
#include "link/box_link.h"

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

struct BenchState {
    BenchState() = default;
    BenchState(const BenchState&) = delete;
    BenchState& operator=(const BenchState&) = delete;

    // Box link, command flags, SendLock, send results, sender and drain workers.
    BoxLink link;

    // Operation state.
    std::atomic<bool> configApplied{false};
    std::atomic<bool> drainArmed{false};
    // Numbered capture files and the default names of the file dialogs;
    // the capture worker takes numbers too.
    std::atomic<int> fileCounter{0};

    // What the user typed and ticked, as the bench last took it (bench thread).
    TypedTexts typed;
    std::atomic<int> captureSeconds{3};
    std::atomic<bool> restartOnRead{false};  // the check box of the "Abs test" row

    // Decoder results shared with the readers.
    std::atomic<std::int64_t> lastRawFrame{0};
    std::array<std::atomic<std::int64_t>, kMaxFields> fieldValue{};
    std::atomic<double> gaugeAngle{0.0};
    std::atomic<int> spiCrcField{0};
    std::atomic<int> displayBase{0};  // DisplayBase; "Hex" at start-up (set by the bench)

    // Workers of operations.
    WorkerHandle readerWorker;

    // Interface settings: the bench thread reads `settings` freely and changes
    // it only through updateSettings; workers take settingsSnapshot().
    const InterfaceSettings& settings() const { return settings_; }
    InterfaceSettings settingsSnapshot() const
    {
        std::lock_guard lock(settingsMutex_);
        return settings_;
    }
    template <typename F>
    void updateSettings(F&& change)
    {
        std::lock_guard lock(settingsMutex_);
        change(settings_);
    }

    PacketParams packetParams() const
    {
        std::lock_guard lock(settingsMutex_);
        return settings_.packetParams();
    }

private:
    mutable std::mutex settingsMutex_;
    InterfaceSettings settings_;
};
