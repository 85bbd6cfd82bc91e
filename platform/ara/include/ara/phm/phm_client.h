#pragma once

#include <string>

namespace ara::phm
{

/// A health-management client bound to one supervision instance.
class Phm_client_interface
{
  public:
    virtual ~Phm_client_interface() = default;
    virtual const std::string& get_instance_specifier() const noexcept = 0;
};

/// Stand-in: remembers its instance and logs its creation (context "PHM").
class Phm_client final : public Phm_client_interface
{
  public:
    explicit Phm_client(std::string instanceSpecifier);

    const std::string& get_instance_specifier() const noexcept override { return m_instance_specifier; }

  private:
    std::string m_instance_specifier;
};

} // namespace ara::phm
