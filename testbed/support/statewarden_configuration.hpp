#pragma once

#include <string>

namespace tarn1::testing
{

/// What the whole-daemon tests and benchmarks vary in Statewarden's configuration; the rest is
/// fixed: a knock-out timer of 3 cycles, the default NM pattern 00 00 00 01 and one application
/// instance per service ("ecu", "com", "cwu").
struct Statewarden_settings
{
    bool nm_usage{true};
    bool request_network_on_entry{true};
    unsigned int period_ms{20};
    /// Seconds the applications, the diagnostic managers and the power manager have to answer.
    unsigned int application_timeout_s{5};
    unsigned int diagnostic_timeout_s{5};
    unsigned int power_manager_timeout_s{5};
    /// The two VM control files; a test without a mount namespace puts them in its own folder.
    std::string status_file{"/etc/adaptive/set_status"};
    std::string command_file{"/etc/adaptive/command_request"};
};

/// The configuration file's text (JSON) with these settings.
std::string statewarden_configuration(const Statewarden_settings& settings);

/// Settings whose control files lie in folder.
Statewarden_settings settings_with_control_files_in(const std::string& folder);

} // namespace tarn1::testing
