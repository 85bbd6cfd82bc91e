#pragma once

#include <stdexcept>
#include <string>

namespace vela::iam
{

/// Why a request was refused or failed; the session answers it with decision 2.
class Tarn1_iam_exception : public std::exception
{
  public:
    explicit Tarn1_iam_exception(std::string message)
        : m_message(std::move(message))
    {
    }

    const char* what() const noexcept override { return m_message.c_str(); }

  private:
    std::string m_message;
};

} // namespace vela::iam
