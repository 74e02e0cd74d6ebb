// Plan.h: the plan of a run: the jobs its inputs make (folders expanded with -r), each with its
// output, and every input that fails before any conversion already marked with why.
#pragma once
#include <vector>

#include "cli/Job.h"
#include "cli/Options.h"

std::vector<Job> PlanRun(const Settings& settings);
