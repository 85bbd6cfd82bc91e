#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace tarn1::com_tool
{

/// Runs one command line of the tool (arguments without the program name); returns the exit status.
///   list
///   call <service> <instance> <method> [argument...]
///   watch <service> <instance> <event> [--count N]
/// Options before the command: --timeout <ms> (waiting for the instance, a reply, samples).
int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace tarn1::com_tool
