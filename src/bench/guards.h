#pragma once
// Which operation owns the box, and the guards every command checks before it
// starts one. One description of the running modes; every guard message and
// every "stop the stream first" is derived from it.
#include "bench/bench_context.h"

#include <QString>
#include <initializer_list>
#include <optional>

// Messages of the shared guards.
inline const QString kMsgPowerOn = QStringLiteral("Please set  Power_on");
inline const QString kMsgSetConfiguration = QStringLiteral("Please set the configuration");
inline const QString kMsgReconnectUsb =
    QStringLiteral("Please Reconnect Orvik_encoder_box's power or connect to the usb ");
inline const QString kMsgReconnectPower = QStringLiteral("Please Reconnect Orvik_encoder_box's power  ");
inline const QString kMsgOnly485 = QStringLiteral("This model only supports the 485 ");
inline const QString kMsgOnlySinCos = QStringLiteral("This model only supports the sin_cosine");
inline const QString kMsgUnsupportedTtl = QStringLiteral("This model unsupported the TTL ");

// What may own the box: the running modes and the commands in flight.
enum class Busy {
    Reading,      // ReadActive
    Capture,      // SaveActive
    AbsTest,      // the accuracy test, between its steps too
    AbsStep,      // AbsStepActive: one accuracy step streaming
    Resolution,   // ResolutionActive
    SinCos,       // SincosActive
    Force,        // ForceActive
    Eeprom,       // an EEPROM write in progress
    Configuring,  // ConfigCmd
    PoweringOn,   // PowerOnCmd
    ResetAngle,   // ResetAngleCmd
    ResetTurns,   // ResetTurnsCmd
};

// The modes as the command flags and the operations (through the registry)
// hold them.
class BenchModes {
public:
    explicit BenchModes(const BenchContext& ctx) : state_(ctx.state), ctx_(ctx) {}
    bool is(Busy b) const;
    bool any(std::initializer_list<Busy> set) const;
    // A stream mode is up: the box is streaming to some reader.
    bool streaming() const;
    bool powerOff() const;

private:
    // An operation's own probe of `b`; false without one.
    bool probed(Busy b) const;
    const BenchState& state_;
    const BenchContext& ctx_;
};

// A command's guards in the order it checks them. The first that refuses
// shows its message (if it has one), concludes `operation` as refused with
// it, and the rest are skipped:
//   if (!Guards(ctx, Operation::Capture).powerOn(true).configured().idle({Busy::Capture})) return;
class Guards {
public:
    explicit Guards(BenchContext& ctx, std::optional<Operation> operation = std::nullopt)
        : ctx_(ctx), modes_(ctx), operation_(operation)
    {
    }

    // Refused while the encoder's power is off, with "Please set  Power_on"
    // when `withMessage`, silently otherwise.
    Guards& powerOn(bool withMessage);
    Guards& configured();
    // The box is on the bus (an IN endpoint); `needOut`: the OUT one too.
    Guards& boxPresent(bool needOut = false);
    // Refused silently while any of `busy` runs.
    Guards& idle(std::initializer_list<Busy> busy);
    Guards& rs485();
    Guards& sinCos();
    Guards& notIncremental();
    // Any other condition of one command.
    Guards& refuseIf(bool refused, const QString& message = {});

    explicit operator bool() const { return ok_; }

private:
    Guards& check(bool refused, const QString& message);
    BenchContext& ctx_;
    BenchModes modes_;
    std::optional<Operation> operation_;
    bool ok_ = true;
};
