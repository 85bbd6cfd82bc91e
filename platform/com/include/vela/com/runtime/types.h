#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vela::com::runtime
{

/// Identifies a service interface by its fully qualified name ("vela::ap::statemanager::DSAInterface").
class Service_id
{
  public:
    Service_id() = default;
    explicit Service_id(std::string name)
        : m_name(std::move(name))
    {
    }
    const std::string& to_string() const noexcept { return m_name; }
    bool operator==(const Service_id& other) const { return m_name == other.m_name; }
    bool operator!=(const Service_id& other) const { return m_name != other.m_name; }
    bool operator<(const Service_id& other) const { return m_name < other.m_name; }

  private:
    std::string m_name;
};

/// Identifies one instance of a service interface; "*" stands for any instance when searching.
class Instance_id
{
  public:
    Instance_id() = default;
    explicit Instance_id(std::string name)
        : m_name(std::move(name))
    {
    }
    const std::string& to_string() const noexcept { return m_name; }
    bool is_any() const noexcept { return m_name == "*"; }
    bool operator==(const Instance_id& other) const { return m_name == other.m_name; }
    bool operator!=(const Instance_id& other) const { return m_name != other.m_name; }
    bool operator<(const Instance_id& other) const { return m_name < other.m_name; }

  private:
    std::string m_name;
};

/// A shared byte buffer holding a SOME/IP-serialized argument list, result or event sample.
/// Copies share the bytes; an empty payload still owns a buffer.
class Serialized_payload
{
  public:
    Serialized_payload()
        : m_bytes(std::make_shared<std::vector<std::uint8_t>>())
    {
    }
    explicit Serialized_payload(std::vector<std::uint8_t> bytes)
        : m_bytes(std::make_shared<std::vector<std::uint8_t>>(std::move(bytes)))
    {
    }

    const std::uint8_t* data() const noexcept { return m_bytes->data(); }
    std::size_t size() const noexcept { return m_bytes->size(); }
    bool empty() const noexcept { return m_bytes->empty(); }
    const std::vector<std::uint8_t>& bytes() const noexcept { return *m_bytes; }
    /// Writable access for the one who fills the payload before handing it on.
    std::vector<std::uint8_t>& buffer() noexcept { return *m_bytes; }

  private:
    std::shared_ptr<std::vector<std::uint8_t>> m_bytes;
};

} // namespace vela::com::runtime
