#pragma once
// The invariants every run of the campaign must keep, as messages naming
// what broke (none: the run kept them all).
#include "campaign/campaign_run.h"

#include <string>
#include <vector>

std::vector<std::string> checkRun(const RunEvidence& ev);
