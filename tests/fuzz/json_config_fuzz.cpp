// Fuzz target: Statewarden's configuration parser on any file content.
//
// Beyond what the sanitizers catch, an input is a finding when the parser throws (it promises
// never to) or accepts a configuration that breaks what the record promises to the rest of
// the daemon: a user-data layout whose fields fit the user data, and no requester list longer
// than its maximum. Very deep nesting is kept out by the fuzzing length bound, not by the target.

#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/config/state_manager_json_parser.hpp"
#include "tests/fuzz/fuzz_target.hpp"

#include <sstream>
#include <string>

namespace
{

using vela::ap::statemanager::config::Nm_user_data_config;
using vela::ap::statemanager::config::State_manager_config;
using vela::ap::statemanager::config::State_manager_json_parser;

bool layout_fits(const Nm_user_data_config& layout)
{
    const std::uint64_t ac_end = std::uint64_t{layout.acbits_offset} + layout.acbits_bytes;
    const std::uint64_t cab_end = std::uint64_t{layout.cabbits_offset} + layout.cabbits_bytes;
    return ac_end <= layout.cabbits_offset && cab_end <= layout.user_data_bytes &&
           layout.max_cab_size_bits <= std::uint64_t{8} * layout.cabbits_bytes &&
           layout.cwu_bit_position < std::uint64_t{8} * layout.user_data_bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
    State_manager_config config;

    if (!State_manager_json_parser::parse_document(file, config))
    {
        return 0;
    }

    if (!layout_fits(config.get_nm_user_data_config()))
    {
        tarn1::fuzz::finding("an accepted configuration holds a user-data layout that does not fit");
    }
    if (config.get_apps_ecualive().size() > config.get_max_apps_ecualive() ||
        config.get_apps_comalive().size() > config.get_max_apps_comalive() ||
        config.get_apps_cwu().size() > config.get_max_apps_cwu())
    {
        tarn1::fuzz::finding("an accepted configuration holds more instances than its maximum");
    }
    return 0;
}
