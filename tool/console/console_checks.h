#pragma once
// The two commands that read a column and write nothing, as the console runs
// them: /verify prints a line for every damaged value and a summary, /estimate
// prints the estimate of a compress pass. Errors are reported like a pass's.

#include <string>

#include "tool/pass/options.h"
#include "tool/run_report.h"

namespace tersify {

// Verifies Table.Field and prints on standard output a "Damaged value, key
// <key>: <reason>" line for each damaged value as it is found, then the
// summary line. Returns the exit code: 0 when no value is damaged, 1 when one
// is or after an error; after a cancel request "Cancelled, " and the counts so
// far, and the pass's cancel exit code. Account, when given, receives how it
// ended and its figures.
int RunVerifyCommand(bool Interactive, const std::string& Table, const std::string& Field,
                     const std::string& Key, const TRecompressOptions& Options, TRunAccount* Account = nullptr);

// Estimates a compress pass over Table.Field from SamplePercent of its rows
// and prints the estimate on standard output. Returns the exit code: 0, 1
// after an error, the pass's cancel exit code after a cancel request.
// Account as for RunVerifyCommand.
int RunEstimateCommand(bool Interactive, const std::string& Table, const std::string& Field,
                       const std::string& Key, const TRecompressOptions& Options, double SamplePercent,
                       TRunAccount* Account = nullptr);

// The percentage of a /SAMPLE= value: a decimal number (a point for the
// fraction) greater than 0 and at most 100. False for anything else.
bool ParseSamplePercent(const std::string& Text, double& Percent);

}  // namespace tersify
