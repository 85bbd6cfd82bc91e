#include "tools/simulator/applications.hpp"

#include "kest/com/cpp_binding/service_finder.h"
#include "statemanager/proxy/state_management_proxies.hpp"
#include "tools/simulator/scenario_line.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace tarn1::simulator
{

namespace
{

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

template <typename Proxy>
std::unique_ptr<Proxy> find_proxy(const std::string& instance, std::chrono::milliseconds timeout)
{
    kest::com::cpp_binding::Service_finder finder;
    std::mutex mutex;
    std::condition_variable found_changed;
    std::optional<kest::com::cpp_binding::Service_handle> found;
    const auto search = finder.start_find_service(
        [&](std::vector<kest::com::cpp_binding::Service_handle> handles)
        {
            if (!handles.empty())
            {
                std::lock_guard<std::mutex> lock(mutex);
                found = handles.front();
                found_changed.notify_all();
            }
        },
        vela::com::runtime::Service_id(Proxy::service_identifier()),
        vela::com::runtime::Instance_id(instance));
    {
        std::unique_lock<std::mutex> lock(mutex);
        found_changed.wait_for(lock, timeout, [&] { return found.has_value(); });
    }
    finder.stop_find_service(search);
    if (!found)
    {
        return nullptr;
    }
    return std::make_unique<Proxy>(*found);
}

bool parse_u8(const std::string& text, std::uint8_t& value)
{
    try
    {
        std::size_t used = 0;
        const unsigned long number = std::stoul(text, &used, 0);
        if (used != text.size() || number > 255)
        {
            return false;
        }
        value = static_cast<std::uint8_t>(number);
        return true;
    }
    catch (const std::exception&)
    {
        return false;
    }
}

} // namespace

bool call_application(Journal& journal,
                      const std::string& verb,
                      const std::string& service,
                      const std::vector<std::string>& arguments,
                      bool& answered,
                      std::string& error)
{
    answered = false;
    const bool request = verb == "request";
    const auto wrong = [&](const std::string& usage)
    {
        error = "usage: " + verb + " " + usage;
        return false;
    };
    const auto timeout = 3000ms;
    std::string what = verb + " " + service;
    for (const auto& argument : arguments)
    {
        what += " " + argument;
    }
    try
    {
        vela::com::Future<void> call;
        if (service == "ecualive")
        {
            if (arguments.size() != 1)
            {
                return wrong("ecualive <instance>");
            }
            auto proxy =
                find_proxy<vela::ap::statemanager::proxy::StateManagementAliveInterfaceProxy>(arguments[0], timeout);
            if (!proxy)
            {
                journal.add("app", what + ": not offered");
                return true;
            }
            (request ? proxy->RequestAlive() : proxy->ReleaseAlive()).get();
        }
        else if (service == "comalive")
        {
            std::uint8_t ac = 0;
            const auto cab = arguments.size() >= 2 ? parse_hex(arguments[1]) : std::nullopt;
            if (!cab || arguments.size() != (request ? 3u : 2u) || (request && !parse_u8(arguments[2], ac)))
            {
                return wrong(request ? "comalive <instance> <cab hex> <ac>" : "comalive <instance> <cab hex>");
            }
            auto proxy =
                find_proxy<vela::ap::statemanager::proxy::StateManagementComAliveInterfaceProxy>(arguments[0], timeout);
            if (!proxy)
            {
                journal.add("app", what + ": not offered");
                return true;
            }
            const Bytes bits(cab->begin(), cab->end());
            (request ? proxy->RequestComAlive(bits, ac) : proxy->ReleaseComAlive(bits)).get();
        }
        else if (service == "cwu")
        {
            std::uint8_t value = 0;
            if (arguments.size() != (request ? 2u : 1u) || (request && !parse_u8(arguments[1], value)))
            {
                return wrong(request ? "cwu <instance> <value>" : "cwu <instance>");
            }
            auto proxy =
                find_proxy<vela::ap::statemanager::proxy::StateManagementCWUInterfaceProxy>(arguments[0], timeout);
            if (!proxy)
            {
                journal.add("app", what + ": not offered");
                return true;
            }
            (request ? proxy->RequestCarWakeUp(value) : proxy->ReleaseCarWakeUp()).get();
        }
        else if (service == "dsa" && request)
        {
            std::uint8_t type = 0;
            if (arguments.size() != 1 || !parse_u8(arguments[0], type))
            {
                return wrong("dsa <restart type>");
            }
            auto proxy = find_proxy<vela::ap::statemanager::proxy::DSAInterfaceProxy>("DSA_Interface", timeout);
            if (!proxy)
            {
                journal.add("app", what + ": not offered");
                return true;
            }
            proxy->RequestRestart(type).get();
        }
        else
        {
            error = "unknown service " + service + " (ecualive, comalive, cwu; dsa only with request)";
            return false;
        }
    }
    catch (const std::exception& exception)
    {
        journal.add("app", what + ": failed: " + exception.what());
        return true;
    }
    journal.add("app", what + ": ok");
    answered = true;
    return true;
}

} // namespace tarn1::simulator
