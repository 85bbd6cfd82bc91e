#include "statemanager/config/config_chooser.hpp"

#include "ara/log/logging.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <unistd.h>

#ifndef TARN1_HOSTNAME_HK
#define TARN1_HOSTNAME_HK "tarn1-hk"
#endif
#ifndef TARN1_HOSTNAME_JO
#define TARN1_HOSTNAME_JO "tarn1-jo"
#endif
#ifndef TARN1_HOSTNAME_AP
#define TARN1_HOSTNAME_AP "tarn1-ap"
#endif
#ifndef TARN1_HOSTNAME_EMULATOR
#define TARN1_HOSTNAME_EMULATOR "tarn1-emu"
#endif

namespace vela::ap::statemanager::config
{

const std::string Config_chooser::s_default_config_folder{"/etc/adaptive/"};
const std::string Config_chooser::s_sm_config_hk{"statewarden_hk.json"};
const std::string Config_chooser::s_sm_config_jo{"statewarden_jo.json"};
const std::string Config_chooser::s_default_sm_config{"statewarden.json"};

const std::string Config_chooser::s_host_housekeeping{TARN1_HOSTNAME_HK};
const std::string Config_chooser::s_host_java{TARN1_HOSTNAME_JO};
const std::string Config_chooser::s_host_adaptive_platform{TARN1_HOSTNAME_AP};
const std::string Config_chooser::s_host_emulator{TARN1_HOSTNAME_EMULATOR};

Config_chooser::Config_chooser()
    : Config_chooser([](char* buffer, std::size_t size) { return ::gethostname(buffer, size); })
{
}

Config_chooser::Config_chooser(const Host_name_source& host_name_source)
{
    char buffer[s_host_name_buffer_size] = {};
    int result = host_name_source(buffer, sizeof buffer);
    if (result == 0 && buffer[sizeof buffer - 1] != '\0')
    {
        // A name that filled the whole buffer may be cut short: it does not fit.
        errno = ENAMETOOLONG;
        result = -1;
    }
    if (result != 0)
    {
        const int error = errno;
        ara::log::LogFatal() << "Unable to get hostname: " << std::generic_category().message(error);
    }
    else
    {
        m_host_name = buffer;
        m_good = true;
        ara::log::LogInfo() << "Configuration for hostname: " << m_host_name;
    }

    m_host_table = {
        {s_host_housekeeping, s_sm_config_hk},
        {s_host_java, s_sm_config_jo},
        {s_host_adaptive_platform, s_default_sm_config},
        {s_host_emulator, s_default_sm_config},
    };
}

std::string Config_chooser::get_config_path() const
{
    const auto found = m_host_table.find(m_host_name);
    return s_default_config_folder + (found == m_host_table.end() ? s_default_sm_config : found->second);
}

} // namespace vela::ap::statemanager::config
