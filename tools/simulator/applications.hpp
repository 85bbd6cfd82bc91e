#pragma once

#include "tools/simulator/journal.hpp"

#include <string>
#include <vector>

namespace tarn1::simulator
{

/// One request of an application through the middleware's generated proxies: service "ecualive",
/// "comalive", "cwu" or "dsa" (request only); verb "request" or "release". False with a usage or
/// an unknown service in error when the request is malformed; otherwise true, with the outcome as
/// an "app" event ("VERB SERVICE ARGS...: ok", ": not offered", ": failed: REASON"), and answered
/// set when the daemon answered it. Runner thread (or the process of another user's application).
bool call_application(Journal& journal,
                      const std::string& verb,
                      const std::string& service,
                      const std::vector<std::string>& arguments,
                      bool& answered,
                      std::string& error);

} // namespace tarn1::simulator
