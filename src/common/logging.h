#pragma once
// Logging categories of box traffic, off by default. Turn them on with
//   QT_LOGGING_RULES="quillmark.link.debug=true;quillmark.sim.debug=true"
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)   // every packet's first bytes, every transfer's length and status
Q_DECLARE_LOGGING_CATEGORY(lcSim)    // the simulated box's firmware
Q_DECLARE_LOGGING_CATEGORY(lcBench)  // operations starting, stopping and refusing
Q_DECLARE_LOGGING_CATEGORY(lcResults)  // the results store: server away and back, results it could not keep
