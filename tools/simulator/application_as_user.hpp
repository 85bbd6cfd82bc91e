#pragma once

#include "tools/simulator/journal.hpp"

#include <string>
#include <vector>

namespace tarn1::simulator
{

/// A request of an application of another user, for access control to judge: self (this program)
/// run again with --app-call VERB SERVICE ARGS... in a process of its own whose user and group id
/// are uid. Its "app" line becomes an "app" event that begins "as uid UID: "; without one the event
/// names the exit status. False only when the process cannot be made. Runner thread.
bool call_application_as(Journal& journal,
                         const std::string& self,
                         unsigned uid,
                         const std::string& verb,
                         const std::string& service,
                         const std::vector<std::string>& arguments,
                         std::string& error);

} // namespace tarn1::simulator
