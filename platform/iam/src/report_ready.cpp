#include "kest/psp/startup/report_ready.h"

#include "ara/log/logging.h"
#include "tarn1/service_manager/systemd_service_manager.hpp"

#include <cstdlib>
#include <cstring>
#include <system_error>

namespace kest::psp::startup
{
namespace
{

ara::log::Logger& psp_logger()
{
    return ara::log::CreateLogger("PSP", "start-up supervision stand-in");
}

} // namespace

void report_ready()
{
    psp_logger().LogInfo() << "report_ready";
    tarn1::service_manager::Systemd_service_manager service_manager;
    if (!service_manager.is_present())
    {
        return;
    }
    const char* socket_name = std::getenv("NOTIFY_SOCKET");
    const int result = service_manager.notify("READY=1");
    if (result > 0)
    {
        psp_logger().LogDebug() << "report_ready: READY=1 sent to " << socket_name;
    }
    else
    {
        psp_logger().LogWarn() << "report_ready: sendto " << socket_name << ": "
                               << std::generic_category().message(-result);
    }
}

} // namespace kest::psp::startup
