#pragma once
// What an operation is given: the state, the view, the box link with its
// named commands, and stop-all, the common recovery. Operations get this, not
// the bench, and never reach another operation through it.
#include "bench/bench_state.h"
#include "bench/bench_view.h"
#include "bench/outcome_board.h"
#include "bench/result_sink.h"
#include "link/box_commands.h"
#include "measure/test_plan.h"

#include <functional>
#include <memory>
#include <mutex>

class OperationRegistry;

class BenchContext {
public:
    BenchContext(BenchState& state, BenchView& view)
        : state(state), view(view), link(state.link), box(state.link, [&state] { return state.packetParams(); })
    {
    }
    BenchContext(const BenchContext&) = delete;
    BenchContext& operator=(const BenchContext&) = delete;

    BenchState& state;
    BenchView& view;
    BoxLink& link;
    BoxCommands box;

    CommandFlags& flags() { return link.flags; }
    const InterfaceSettings& settings() const { return state.settings(); }

    // Runs `work` on the bench thread, after what is queued there (inline
    // when no bench thread was given: the tests call the bench directly).
    void onBenchThread(std::function<void()> work) const
    {
        if (post_)
            post_(std::move(work));
        else
            work();
    }
    void setBenchThreadPost(std::function<void(std::function<void()>)> post) { post_ = std::move(post); }

    // Returns the bench to idle; callable from any thread. Set by the bench.
    void stopAll() const
    {
        if (stopAll_)
            stopAll_();
    }
    void setStopAll(std::function<void()> f) { stopAll_ = std::move(f); }

    // An operation ended: the outcome goes on the board, and a verdict to
    // the results sink with the serial and the configuration it ran with.
    // Any thread; posted after the screen shows the verdict.
    void conclude(const Outcome& outcome);
    // `op` does not start: `message` (if any) is shown and concluded as the reason.
    void refuse(Operation op, const QString& message)
    {
        if (!message.isEmpty())
            view.showMessage(message);
        conclude(Outcome::refused(op, message));
    }
    // Set before the bench runs anything.
    void setResultSink(ResultSink sink) { resultSink_ = std::move(sink); }
    // The test plan every verdict is also judged against (none: no plan
    // verdict). Any thread; a test that ends after the change is judged by
    // the new plan.
    void setPlan(std::shared_ptr<const TestPlan> plan)
    {
        std::lock_guard lock(planMutex_);
        plan_ = std::move(plan);
    }
    std::shared_ptr<const TestPlan> plan() const
    {
        std::lock_guard lock(planMutex_);
        return plan_;
    }
    OutcomeBoard outcomes;
    // The bench's operations (set by the bench): their modes, their part
    // in the box's return.
    const OperationRegistry* operations = nullptr;

    // Writes an edit's text on the screen and in the typed texts, so the two
    // never disagree.
    void showEditText(Control c, const QString& text)
    {
        state.typed.set(c, text);
        view.setText(c, text);
    }

    // Ends a stream before a change: lower ReadActive, wait 100 ms, pulse
    // StopCmd for `stopMs`, give "Read data" its caption back, enable the
    // six stream buttons and wait 100 ms.
    void haltStream(double stopMs);

private:
    std::function<void(std::function<void()>)> post_;
    std::function<void()> stopAll_;
    ResultSink resultSink_;
    mutable std::mutex planMutex_;
    std::shared_ptr<const TestPlan> plan_;
};

// The six buttons that a stop gives back: "Read data", "Resolution", "Abs
// test", "Save file", "Power control" and "Write eepprom".
inline constexpr Control kStreamButtons[] = {Control::ReadData, Control::Resolution, Control::AbsTest,
                                             Control::SaveFile, Control::PowerControl, Control::WriteEeprom};
