#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kest::com
{

/// Base of every error the middleware raises about itself (transport, discovery, resources).
class Infrastructure_exception : public std::runtime_error
{
  public:
    explicit Infrastructure_exception(const std::string& what)
        : std::runtime_error(what)
    {
    }
};

/// The called service instance is currently not offered or not reachable.
class Service_not_available_exception : public Infrastructure_exception
{
  public:
    Service_not_available_exception()
        : Infrastructure_exception("Service not available exception")
    {
    }
};

/// A message could not be delivered or its answer did not come (connection lost, timeout, refused).
class Transport_exception : public Infrastructure_exception
{
  public:
    explicit Transport_exception(const std::string& what)
        : Infrastructure_exception(what)
    {
    }
};

/// Access control refused the operation: a call or subscription the provider's access check did
/// not allow (return code 0x20, "access denied"), or an offer this process may not make.
class Access_denied_exception : public Infrastructure_exception
{
  public:
    explicit Access_denied_exception(const std::string& what = "access denied")
        : Infrastructure_exception(what)
    {
    }
};

/// An argument handed to the middleware is unusable (bad mode, value too large to serialize, ...).
class Invalid_argument_exception : public std::invalid_argument
{
  public:
    explicit Invalid_argument_exception(const std::string& what)
        : std::invalid_argument(what)
    {
    }
};

namespace cpp_binding
{

/// The provider answered a call with a non-zero return code.
class Application_error_exception : public std::runtime_error
{
  public:
    explicit Application_error_exception(std::uint8_t return_code)
        : std::runtime_error("application error, return code " + std::to_string(return_code))
        , m_return_code(return_code)
    {
    }
    std::uint8_t return_code() const noexcept { return m_return_code; }

  private:
    std::uint8_t m_return_code;
};

} // namespace cpp_binding

} // namespace kest::com
