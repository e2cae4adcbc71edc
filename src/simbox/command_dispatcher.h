#pragma once
// The box's command table: from the first byte of a packet on OUT 0x02 to
// the firmware that handles it. Fills and headers never share a first byte,
// so the first byte alone decides.
//
// Every call comes with the box's lock held.
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class CommandDispatcher {
public:
    using Packet = std::vector<std::uint8_t>;
    using Handler = std::function<void(const Packet& packet, std::int64_t now)>;
    // A command is one whole packet; anything shorter or longer is taken and
    // ignored.
    static constexpr std::size_t kCommandSize = 512;

    // `handler` takes every command whose first byte is `code`. A code may
    // have several handlers (the stop ends a capture, then every stream);
    // they run in the order they were registered.
    void on(std::uint8_t code, Handler handler);
    template <typename F>
    void on(std::uint8_t code, F* firmware, void (F::*handler)(const Packet&, std::int64_t))
    {
        on(code, [firmware, handler](const Packet& p, std::int64_t now) { (firmware->*handler)(p, now); });
    }
    // `watcher` sees every packet the box takes, commands or not, empty or
    // not, before any handler does.
    void watch(Handler watcher);

    void dispatch(const Packet& packet, std::int64_t now) const;
    // Codes with at least one handler.
    std::vector<std::uint8_t> codes() const;

private:
    std::array<std::vector<Handler>, 256> handlers_;
    std::vector<Handler> watchers_;
};
