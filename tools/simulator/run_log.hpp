#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <sys/types.h>

namespace tarn1::simulator
{

/// Where one run of the simulator logs: a file of its own, and the stable link that always names
/// the newest run's file, so simultaneous runs never share a log and a reader can follow the
/// newest one by one name.
struct Run_log
{
    std::string file;
    std::string latest;
};

/// "<folder>/tarn1_sim.<YYYYmmdd-HHMMSS>.<pid>.log" (local start time) and "<folder>/tarn1_sim.log".
Run_log run_log_in(const std::string& folder, std::time_t start, pid_t pid);

/// Creates the run's file (never through a link or over an existing file) and points the latest
/// link at it, replacing the old link in one step. False with error set when the file cannot be
/// made; a link that cannot be replaced only sets warning.
bool start_run_log(const Run_log& log, std::string& error, std::string& warning);

/// Points the link at target, replacing an old link (or file) of that name in one step; a folder
/// of that name stays. False with warning set when it cannot.
bool point_link(const std::string& target, const std::string& link, std::string& warning);

/// Removes the oldest run files in folder so that at most keep remain; files of other names stay.
void prune_run_logs(const std::string& folder, std::size_t keep);

} // namespace tarn1::simulator
