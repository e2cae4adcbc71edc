#pragma once
// The box commands of quillmark-tool: configure, read, eeprom, resolution,
// abs-test, capture and sincos, run by the bench's own operations on the
// real or the simulated box.

// True when argv[1..] names a box command or starts with a global option
// (--simulate, --json).
bool isHeadlessInvocation(int argc, char** argv);
// Runs it; returns the exit status (0 pass, 1 failed, 2 bad command line, 3 no box).
int runHeadless(int argc, char** argv);
