#include "statemanager/placeholders/placeholders.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::placeholders
{

void announce_placeholder(const std::string& what)
{
    ara::log::LogWarn() << "placeholder: " << what << " not built yet";
}

State_notifier_placeholder::State_notifier_placeholder(std::chrono::seconds /*app_timeout*/,
                                                       std::chrono::seconds /*dm_timeout*/)
{
    announce_placeholder("state notifier");
}

State_placeholder::State_placeholder(const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                                     const std::string& name)
    : State_interface(shared_memory_update, name)
{
    announce_placeholder("state \"" + name + "\"");
}

} // namespace vela::ap::statemanager::placeholders
