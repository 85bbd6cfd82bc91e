#include "testbed/support/statewarden_configuration.hpp"

#include <nlohmann/json.hpp>

namespace tarn1::testing
{
namespace
{

nlohmann::json one_instance(const char* key, const char* instance)
{
    return nlohmann::json::array({nlohmann::json::object({{key, instance}})});
}

} // namespace

std::string statewarden_configuration(const Statewarden_settings& settings)
{
    const nlohmann::json configuration = {
        {"statewarden",
         {{"KnockOutTimer", 3},
          {"StateManagerNMUsage", settings.nm_usage},
          {"RequestNetworkOnEntryRunState", settings.request_network_on_entry},
          {"StateManagerMainPeriod", settings.period_ms},
          {"ApplicationSuspendRequestTimeout", settings.application_timeout_s},
          {"DMSuspendRequestTimeout", settings.diagnostic_timeout_s},
          {"PMSuspendRequestTimeout", settings.power_manager_timeout_s},
          {"AliveSupervisionInstanceId", "Statewarden/Alive"},
          {"SharedMemoryConfig",
           {{"UpdateStatusFile", settings.status_file}, {"RestartCommandFile", settings.command_file}}},
          {"DefautNMRequestPattern", nlohmann::json::array({0, 0, 0, 1})},
          {"MaxNumberOfApplicationsRequestAlive", 1},
          {"ApplicationsRequestAliveConfig", one_instance("EcuAliveInterfaceInstance", "ecu")},
          {"MaxNumberOfApplicationsRequestNetwork", 1},
          {"ApplicationsRequestNetworkConfig", one_instance("NetworkAliveInterfaceInstance", "com")},
          {"MaxNumberOfCWURequest", 1},
          {"CWURequestConfig", one_instance("CWUInterfaceInstance", "cwu")}}}};
    return configuration.dump(4);
}

Statewarden_settings settings_with_control_files_in(const std::string& folder)
{
    Statewarden_settings settings;
    settings.status_file = folder + "/set_status";
    settings.command_file = folder + "/command_request";
    return settings;
}

} // namespace tarn1::testing
