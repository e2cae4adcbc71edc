#pragma once
// The bus that `quillmark --simulate` runs on.
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"

#include <memory>

// The demo box alone: 17 bits, 15 turn bits, 2 status bits, turning at
// 2 rpm, sin/cos of 2048 periods a turn.
std::shared_ptr<SimBox> makeDemoBox();
// A bus with one box whose encoder turns slowly (2 rpm; 15 turn bits, 17
// single-turn bits and 2 status bits, the workbench's default BISS layout).
std::shared_ptr<SimBus> makeDemoBus();
// The same, giving access to the box.
std::shared_ptr<SimBus> makeDemoBus(std::shared_ptr<SimBox>* box);
