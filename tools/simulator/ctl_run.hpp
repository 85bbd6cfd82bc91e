#pragma once

#include <string>
#include <vector>

namespace tarn1::simulator
{

/// Runs the statewarden_ctl program with arguments (the discovery folder of this run is in the
/// environment it inherits); exit_status is its exit status, output what it printed (standard
/// output and standard error, at most 8 MiB kept). False with a reason only when it cannot be run
/// at all. Runner thread.
bool run_ctl_program(const std::string& program,
                     const std::vector<std::string>& arguments,
                     int& exit_status,
                     std::string& output,
                     std::string& error);

} // namespace tarn1::simulator
