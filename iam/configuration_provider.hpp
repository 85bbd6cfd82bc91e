#pragma once

#include <cstdint>
#include <string>

namespace vela::iam
{

/// The daemon's fixed supervision identifiers; it reads no configuration file.
class Configuration_provider final
{
  public:
    static std::string get_instance_id() { return "tarn1-iam-daemon-container"; }
    static std::uint16_t get_supervision_entity_id() { return 1; }
    static std::uint16_t get_checkpoint_id() { return 3; }
};

} // namespace vela::iam
