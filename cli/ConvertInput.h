// ConvertInput.h: the conversion of one input of a run, either way, from reading it to its output
// in place. Every call into the core's conversion is here.
#pragma once
#include "cli/Job.h"
#include "cli/Options.h"

// Converts job's input into its output and sets its result. Safe to run on several threads at
// once, each with a job of its own.
void ConvertInput(Job& job, const Settings& settings);
