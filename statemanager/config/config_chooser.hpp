#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>

namespace vela::ap::statemanager::config
{

/// Chooses the configuration file from the machine's host name: each kind of virtual machine
/// has its own file in /etc/adaptive/, every unknown host the default one. Used once on the
/// main thread at start-up.
class Config_chooser final
{
  public:
    /// Reads the host name into buffer (of the given size), as gethostname does: 0 on success,
    /// -1 with errno set on failure.
    using Host_name_source = std::function<int(char* buffer, std::size_t size)>;

    static const std::string s_default_config_folder;
    static const std::string s_sm_config_hk;
    static const std::string s_sm_config_jo;
    static const std::string s_default_sm_config;

    /// The host names of the four kinds of machine, fixed at build time.
    static const std::string s_host_housekeeping;
    static const std::string s_host_java;
    static const std::string s_host_adaptive_platform;
    static const std::string s_host_emulator;

    /// Reads the machine's host name with gethostname.
    Config_chooser();
    /// Reads the host name from the given source instead.
    explicit Config_chooser(const Host_name_source& host_name_source);

    /// True once the host name was read.
    bool good() const { return m_good; }

    /// The configuration folder followed by the file chosen for the host name (the default file
    /// for a host that is not in the table).
    std::string get_config_path() const;

  private:
    /// Size of the host-name buffer; a longer name is reported as an error by gethostname.
    static constexpr std::size_t s_host_name_buffer_size = 20;

    bool m_good{false};
    std::string m_host_name;
    std::map<std::string, std::string> m_host_table;
};

} // namespace vela::ap::statemanager::config
