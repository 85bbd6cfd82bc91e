#include "tools/com_tool/com_tool.hpp"

#include "kest/com/cpp_binding/rport.h"
#include "kest/com/cpp_binding/service_finder.h"
#include "kest/com/exceptions.h"
#include "kest/com/someip/serializer.h"
#include "statemanager/skeleton/service_interfaces.hpp"
#include "statemanager/skeleton/udpnm_interfaces.hpp"

#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <iomanip>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

namespace tarn1::com_tool
{

namespace
{

using kest::com::connector::Service_interface_description;
using kest::com::cpp_binding::Service_handle;
using vela::com::runtime::Serialized_payload;

enum class Kind
{
    kUint8,
    kUint16,
    kUint32,
    kBytes,
    kRaw,
};

struct Element
{
    std::string name;
    std::uint16_t id;
    std::vector<Kind> arguments;
    std::optional<Kind> result;
};

struct Known_interface
{
    std::string name;
    Service_interface_description description;
    std::vector<Element> methods;
    std::vector<Element> events;
};

const std::vector<Known_interface>& known_interfaces()
{
    using namespace vela::ap::statemanager;
    using namespace kest::udpnm::interface;
    static const std::vector<Known_interface> s_known = {
        {StateManagementAliveInterface::service_identifier(),
         StateManagementAliveInterface::description(),
         {{"ReleaseAlive", StateManagementAliveInterface::kReleaseAlive, {}, {}},
          {"RequestAlive", StateManagementAliveInterface::kRequestAlive, {}, {}}},
         {}},
        {StateManagementComAliveInterface::service_identifier(),
         StateManagementComAliveInterface::description(),
         {{"ReleaseComAlive", StateManagementComAliveInterface::kReleaseComAlive, {Kind::kBytes}, {}},
          {"RequestComAlive", StateManagementComAliveInterface::kRequestComAlive, {Kind::kBytes, Kind::kUint8}, {}}},
         {}},
        {StateManagementCWUInterface::service_identifier(),
         StateManagementCWUInterface::description(),
         {{"ReleaseCarWakeUp", StateManagementCWUInterface::kReleaseCarWakeUp, {}, {}},
          {"RequestCarWakeUp", StateManagementCWUInterface::kRequestCarWakeUp, {Kind::kUint8}, {}}},
         {}},
        {DSAInterface::service_identifier(),
         DSAInterface::description(),
         {{"RequestRestart", DSAInterface::kRequestRestart, {Kind::kUint8}, {}}},
         {}},
        {NetworkStateInterface::service_identifier(),
         NetworkStateInterface::description(),
         {{"ReleaseNetwork", NetworkStateInterface::kReleaseNetwork, {Kind::kBytes}, {}},
          {"RequestNetwork", NetworkStateInterface::kRequestNetwork, {Kind::kBytes}, {}},
          {"GetNetworkState", NetworkStateInterface::kNetworkStateGet, {}, Kind::kBytes}},
         {{"NetworkState", NetworkStateInterface::kNetworkStateEvent, {}, Kind::kBytes}}},
        {UserDataInterface::service_identifier(),
         UserDataInterface::description(),
         {{"GetUserData", UserDataInterface::kGetUserData, {}, Kind::kBytes},
          {"SetUserData", UserDataInterface::kSetUserData, {Kind::kBytes}, {}}},
         {{"UserDataChanged", UserDataInterface::kUserDataChangedEvent, {}, Kind::kBytes}}},
    };
    return s_known;
}

/// The interface named fully or by its last component ("DSAInterface").
const Known_interface* find_interface(const std::string& name)
{
    for (const auto& known : known_interfaces())
    {
        if (known.name == name ||
            (known.name.size() > name.size() + 2 &&
             known.name.compare(known.name.size() - name.size() - 2, std::string::npos, "::" + name) == 0))
        {
            return &known;
        }
    }
    return nullptr;
}

std::string to_hex(const std::uint8_t* data, std::size_t size)
{
    std::ostringstream text;
    for (std::size_t i = 0; i < size; ++i)
    {
        text << std::hex << std::setw(2) << std::setfill('0') << static_cast<unsigned>(data[i]);
        if (i + 1 < size)
        {
            text << ' ';
        }
    }
    return text.str();
}

bool parse_hex(const std::string& text, std::vector<std::uint8_t>& out)
{
    std::string digits;
    for (const char c : text)
    {
        if (c == ' ' || c == ':' || c == '_')
        {
            continue;
        }
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0)
        {
            return false;
        }
        digits.push_back(c);
    }
    if (digits.size() % 2 != 0)
    {
        return false;
    }
    for (std::size_t i = 0; i < digits.size(); i += 2)
    {
        out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
}

bool parse_number(const std::string& text, std::uint64_t limit, std::uint64_t& value)
{
    if (text.empty())
    {
        return false;
    }
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 0);
    return *end == '\0' && value <= limit;
}

/// Appends one argument of a known kind, or of the kind its prefix names (u8:, u16:, u32:, bytes:, raw:).
bool append_argument(const std::string& text, std::optional<Kind> kind, std::vector<std::uint8_t>& out)
{
    std::string value = text;
    if (!kind)
    {
        const auto colon = text.find(':');
        if (colon == std::string::npos)
        {
            return false;
        }
        const std::string prefix = text.substr(0, colon);
        value = text.substr(colon + 1);
        static const std::map<std::string, Kind> s_prefixes = {{"u8", Kind::kUint8},
                                                               {"u16", Kind::kUint16},
                                                               {"u32", Kind::kUint32},
                                                               {"bytes", Kind::kBytes},
                                                               {"raw", Kind::kRaw}};
        const auto found = s_prefixes.find(prefix);
        if (found == s_prefixes.end())
        {
            return false;
        }
        kind = found->second;
    }
    kest::com::someip::Serializer serializer(out);
    std::uint64_t number = 0;
    std::vector<std::uint8_t> bytes;
    switch (*kind)
    {
    case Kind::kUint8:
        if (!parse_number(value, 0xFF, number))
        {
            return false;
        }
        serializer.write(static_cast<std::uint8_t>(number));
        return true;
    case Kind::kUint16:
        if (!parse_number(value, 0xFFFF, number))
        {
            return false;
        }
        serializer.write(static_cast<std::uint16_t>(number));
        return true;
    case Kind::kUint32:
        if (!parse_number(value, 0xFFFFFFFFULL, number))
        {
            return false;
        }
        serializer.write(static_cast<std::uint32_t>(number));
        return true;
    case Kind::kBytes:
        if (!parse_hex(value, bytes))
        {
            return false;
        }
        serializer.write(bytes);
        return true;
    case Kind::kRaw:
        return parse_hex(value, out);
    }
    return false;
}

std::string describe(const Serialized_payload& payload, std::optional<Kind> kind)
{
    if (kind == Kind::kBytes)
    {
        std::vector<std::uint8_t> bytes;
        if (kest::com::someip::deserialize_arguments(payload, bytes))
        {
            return "[" + to_hex(bytes.data(), bytes.size()) + "]";
        }
    }
    return payload.empty() ? "(empty)" : to_hex(payload.data(), payload.size());
}

/// Waits until the instance is offered, at most timeout.
std::optional<Service_handle> wait_for_instance(kest::com::cpp_binding::Service_finder& finder,
                                                const std::string& service,
                                                const std::string& instance,
                                                std::chrono::milliseconds timeout)
{
    std::mutex mutex;
    std::condition_variable found_changed;
    std::optional<Service_handle> found;
    const auto search = finder.start_find_service(
        [&](std::vector<Service_handle> handles)
        {
            if (!handles.empty())
            {
                std::lock_guard<std::mutex> lock(mutex);
                found = handles.front();
                found_changed.notify_all();
            }
        },
        vela::com::runtime::Service_id(service),
        vela::com::runtime::Instance_id(instance));
    {
        std::unique_lock<std::mutex> lock(mutex);
        found_changed.wait_for(lock, timeout, [&] { return found.has_value(); });
    }
    finder.stop_find_service(search);
    return found;
}

int usage(std::ostream& err)
{
    err << "usage: com_tool [--timeout ms] list\n"
           "       com_tool [--timeout ms] call <service> <instance> <method> [argument...]\n"
           "       com_tool [--timeout ms] watch <service> <instance> <event> [--count n]\n"
           "Services of this system may be named by their last component (DSAInterface); methods and\n"
           "events by name. Arguments of known methods: numbers (0x.. allowed) and hex byte strings\n"
           "(\"01000000\"); otherwise typed: u8:N u16:N u32:N bytes:HEX (length + bytes) raw:HEX.\n";
    return 2;
}

} // namespace

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    std::size_t next = 0;
    std::chrono::milliseconds timeout{2000};
    if (arguments.size() >= 2 && arguments[0] == "--timeout")
    {
        std::uint64_t ms = 0;
        if (!parse_number(arguments[1], 3600000, ms))
        {
            return usage(err);
        }
        timeout = std::chrono::milliseconds(ms);
        next = 2;
    }
    if (next >= arguments.size())
    {
        return usage(err);
    }
    const std::string& command = arguments[next++];
    try
    {
        kest::com::cpp_binding::Service_finder finder;
        if (command == "list")
        {
            for (const auto& handle : finder.find_all())
            {
                out << handle.service_id.to_string() << " " << handle.instance_id.to_string() << " pid " << handle.pid
                    << " " << handle.endpoint << "\n";
            }
            return 0;
        }
        if ((command != "call" && command != "watch") || arguments.size() < next + 3)
        {
            return usage(err);
        }
        const Known_interface* known = find_interface(arguments[next]);
        const std::string service = known ? known->name : arguments[next];
        const std::string& instance = arguments[next + 1];
        const std::string& element = arguments[next + 2];
        next += 3;
        Service_interface_description description =
            known ? known->description : Service_interface_description{service, 0, 0};
        const Element* descriptor = nullptr;
        static const std::vector<Element> s_none;
        const std::vector<Element>& elements = known ? (command == "call" ? known->methods : known->events) : s_none;
        for (const auto& candidate : elements)
        {
            if (candidate.name == element || std::to_string(candidate.id) == element)
            {
                descriptor = &candidate;
            }
        }
        std::uint64_t id = 0;
        if (descriptor != nullptr)
        {
            id = descriptor->id;
        }
        else if (!parse_number(element, 0x7FFF, id))
        {
            err << "unknown " << (command == "call" ? "method " : "event ") << element << " of " << service << "\n";
            return 2;
        }

        const auto handle = wait_for_instance(finder, service, instance, timeout);
        if (!handle)
        {
            err << service << " instance " << instance << " is not offered\n";
            return 1;
        }
        kest::com::cpp_binding::Rport port(*handle, description);
        port.set_call_timeout(timeout);

        if (command == "call")
        {
            Serialized_payload request;
            const std::size_t count = arguments.size() - next;
            if (descriptor != nullptr && count != descriptor->arguments.size())
            {
                err << element << " takes " << descriptor->arguments.size() << " argument(s)\n";
                return 2;
            }
            for (std::size_t i = 0; i < count; ++i)
            {
                const std::optional<Kind> kind =
                    descriptor ? std::optional<Kind>(descriptor->arguments[i]) : std::nullopt;
                if (!append_argument(arguments[next + i], kind, request.buffer()))
                {
                    err << "cannot encode argument " << arguments[next + i] << "\n";
                    return 2;
                }
            }
            auto reply = port.call_method(static_cast<std::uint16_t>(id), request).get();
            out << "ok " << describe(reply, descriptor ? descriptor->result : std::nullopt) << "\n";
            return 0;
        }

        std::uint64_t wanted = 0;
        if (arguments.size() >= next + 2 && arguments[next] == "--count")
        {
            if (!parse_number(arguments[next + 1], 1000000, wanted))
            {
                return usage(err);
            }
        }
        std::mutex mutex;
        std::condition_variable arrived;
        std::vector<Serialized_payload> samples;
        const auto event_id = static_cast<std::uint16_t>(id);
        port.set_receive_handler(event_id,
                                 [&]
                                 {
                                     std::lock_guard<std::mutex> lock(mutex);
                                     port.take_samples(event_id, samples);
                                     arrived.notify_all();
                                 });
        port.subscribe_event(event_id, 16);
        std::uint64_t shown = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::unique_lock<std::mutex> lock(mutex);
        while (wanted == 0 || shown < wanted)
        {
            if (!arrived.wait_until(lock, deadline, [&] { return !samples.empty(); }))
            {
                break;
            }
            for (const auto& sample : samples)
            {
                out << element << " " << describe(sample, descriptor ? descriptor->result : std::nullopt) << std::endl;
                ++shown;
            }
            samples.clear();
        }
        lock.unlock();
        port.unset_receive_handler(event_id);
        if (wanted != 0 && shown < wanted)
        {
            err << "only " << shown << " of " << wanted << " samples arrived\n";
            return 1;
        }
        return 0;
    }
    catch (const kest::com::cpp_binding::Application_error_exception& error)
    {
        err << "error: return code 0x" << std::hex << static_cast<unsigned>(error.return_code()) << "\n";
        return 1;
    }
    catch (const std::exception& error)
    {
        err << "error: " << error.what() << "\n";
        return 1;
    }
}

} // namespace tarn1::com_tool
