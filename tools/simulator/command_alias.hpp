#pragma once

#include <string>
#include <vector>

namespace tarn1::simulator
{

/// A line's words with a short form at its head written out as the long command; any other line
/// comes back unchanged. The short forms are those of the command table (Scenario_runner::commands()):
/// a letter for the service with "+" to ask and "-" to let go (e+ e- ecualive, c+ c- comalive, w+ w-
/// car wake-up, d+ diagnostic restart, cl+ cl- clients), k for press, net for network, sig for
/// signal. Trailing arguments left out take the example configuration's first instance and plain
/// values ("c+ ComAlive_Navigation" asks for CAB 010000 with AC 3).
std::vector<std::string> expand_alias(const std::vector<std::string>& words);

} // namespace tarn1::simulator
