// Fuzz target: the middleware's reading of a discovery entry. Any local user can write entries
// into the discovery folder, so an entry's text is as untrusted as a peer's bytes.
//
// Beyond what the sanitizers catch, an input is a finding when
// - an entry made of the input's first lines, as a provider writes it, is refused or read back
//   with other values;
// - an accepted entry lacks what a proxy needs to connect (endpoint, a positive pid), holds a
//   line break in a value, or reads back differently once written out again.

#include "platform/com/src/discovery.hpp"
#include "tests/fuzz/fuzz_target.hpp"

#include <optional>
#include <sstream>
#include <string>

namespace
{

using kest::com::cpp_binding::Service_handle;
using kest::com::internal::parse_discovery_entry;
using tarn1::fuzz::finding;

std::string entry_text(const Service_handle& handle)
{
    std::ostringstream text;
    text << "service=" << handle.service_id.to_string() << "\n"
         << "instance=" << handle.instance_id.to_string() << "\n"
         << "endpoint=" << handle.endpoint << "\n"
         << "pid=" << handle.pid << "\n"
         << "start_time=" << handle.start_time << "\n";
    return text.str();
}

std::optional<Service_handle> parse_text(const std::string& text)
{
    std::istringstream stream(text);
    return parse_discovery_entry(stream);
}

/// The input's first lines as the names of an entry that a provider could publish.
Service_handle handle_from_lines(const std::string& input)
{
    std::istringstream lines(input);
    std::string service;
    std::string instance;
    std::string endpoint;
    std::getline(lines, service);
    std::getline(lines, instance);
    std::getline(lines, endpoint);
    Service_handle handle;
    handle.service_id = vela::com::runtime::Service_id(service);
    handle.instance_id = vela::com::runtime::Instance_id(instance);
    handle.endpoint = endpoint.empty() ? "/run/tarn1/com/p1-1.sock" : endpoint;
    handle.pid = static_cast<std::int32_t>(1 + input.size() % 100000);
    handle.start_time = input.size();
    return handle;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);

    // Whatever a provider can publish is read back as it was written.
    const auto published = handle_from_lines(input);
    const auto published_text = entry_text(published);
    if (published_text.size() <= 4096)
    {
        const auto read = parse_text(published_text);
        if (!read || !(*read == published))
        {
            finding("an entry as a provider writes it is refused or read differently");
        }
    }

    const auto entry = parse_text(input);
    if (!entry)
    {
        return 0;
    }
    if (entry->endpoint.empty() || entry->pid <= 0)
    {
        finding("an accepted entry has no endpoint or no valid pid");
    }
    for (const std::string* value : {&entry->service_id.to_string(), &entry->instance_id.to_string(), &entry->endpoint})
    {
        if (value->find('\n') != std::string::npos)
        {
            finding("a value of an accepted entry holds a line break");
        }
    }
    const auto written = entry_text(*entry);
    // Numbers written in full may take more room than the text had ("start_time=-1").
    if (written.size() <= 4096)
    {
        const auto again = parse_text(written);
        if (!again || !(*again == *entry))
        {
            finding("an accepted entry reads back differently once written out again");
        }
    }
    return 0;
}
