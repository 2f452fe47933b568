// The doctor's findings as report lines, each starting "\r\n\t>> " so that a reader or a script
// tells them from the lines of the plain report at a glance.
#pragma once

#include <string>
#include <string_view>

#include "core/doctor/doctor.h"
#include "core/doctor/reads.h"

namespace chipsight::doctor {

inline constexpr std::string_view kLineLead = "\r\n\t>> ";

void appendFindings(std::string& block, const Findings& findings);
// `length` is that of each read.
void appendReadsComparison(std::string& block, const ReadsComparison& comparison,
                           std::uint64_t length);
// The lines of an examination: its findings, or the line saying why there are none.
void appendExamination(std::string& block, const Examination& examination);

}  // namespace chipsight::doctor
