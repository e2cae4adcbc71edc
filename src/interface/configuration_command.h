#pragma once
// "Clicking setting": sends the interface settings to the box and checks
// that it answers.
class Bench;

class ConfigurationCommand {
public:
    explicit ConfigurationCommand(Bench& bench) : bench_(bench) {}
    void run();

private:
    // The sin/cos analysis starts from here once the settings took; the
    // analysis itself comes with the sin/cos test.
    void startSinCosTest();
    Bench& bench_;
};
