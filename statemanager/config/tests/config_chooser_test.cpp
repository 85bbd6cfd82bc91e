#include "ara/log/testing/log_capture.h"
#include "statemanager/config/config_chooser.hpp"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace vela::ap::statemanager::config
{
namespace
{

Config_chooser::Host_name_source host_named(const std::string& name)
{
    return [name](char* buffer, std::size_t size)
    {
        if (name.size() + 1 > size)
        {
            errno = ENAMETOOLONG;
            return -1;
        }
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        return 0;
    };
}

struct Host_case
{
    const char* label;
    std::string host_name;
    std::string expected_path;
};

void PrintTo(const Host_case& value, std::ostream* os)
{
    *os << value.label;
}

class Config_chooser_test : public ::testing::TestWithParam<Host_case>
{
  protected:
    ara::log::testing::Log_capture m_capture;
};

TEST_P(Config_chooser_test, HostNameSelectsItsConfigurationFile)
{
    const Config_chooser sut(host_named(GetParam().host_name));

    ASSERT_TRUE(sut.good());
    EXPECT_EQ(sut.get_config_path(), GetParam().expected_path);
    EXPECT_EQ(m_capture.count("Configuration for hostname: " + GetParam().host_name, ara::log::LogLevel::kInfo), 1U);
}

std::string upper(std::string text)
{
    for (char& c : text)
    {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    HostTable,
    Config_chooser_test,
    ::testing::Values(
        Host_case{"Housekeeping", Config_chooser::s_host_housekeeping, "/etc/adaptive/statewarden_hk.json"},
        Host_case{"Java", Config_chooser::s_host_java, "/etc/adaptive/statewarden_jo.json"},
        Host_case{"AdaptivePlatform", Config_chooser::s_host_adaptive_platform, "/etc/adaptive/statewarden.json"},
        Host_case{"Emulator", Config_chooser::s_host_emulator, "/etc/adaptive/statewarden.json"},
        Host_case{"UnknownHost", "no-such-vm", "/etc/adaptive/statewarden.json"},
        Host_case{"OtherLetterCase", upper(Config_chooser::s_host_java), "/etc/adaptive/statewarden.json"},
        Host_case{"LongestNameThatFits", std::string(19, 'h'), "/etc/adaptive/statewarden.json"}),
    [](const ::testing::TestParamInfo<Host_case>& param) { return std::string{param.param.label}; });

class Config_chooser_failure_test : public ::testing::Test
{
  protected:
    ara::log::testing::Log_capture m_capture;
};

TEST_F(Config_chooser_failure_test, UnreadableHostNameLeavesChooserNotGood)
{
    const Config_chooser sut(
        [](char*, std::size_t)
        {
            errno = EPERM;
            return -1;
        });

    EXPECT_FALSE(sut.good());
    EXPECT_EQ(
        m_capture.count(std::string{"Unable to get hostname: "} + std::strerror(EPERM), ara::log::LogLevel::kFatal),
        1U);
}

TEST_F(Config_chooser_failure_test, HostNameOfTwentyCharactersDoesNotFit)
{
    const Config_chooser sut(host_named(std::string(20, 'h')));

    EXPECT_FALSE(sut.good());
    EXPECT_TRUE(m_capture.contains_fragment("Unable to get hostname: "));
}

TEST_F(Config_chooser_failure_test, UnterminatedFullBufferIsRefused)
{
    const Config_chooser sut(
        [](char* buffer, std::size_t size)
        {
            std::memset(buffer, 'x', size);
            return 0;
        });

    EXPECT_FALSE(sut.good());
    EXPECT_EQ(m_capture.count(std::string{"Unable to get hostname: "} + std::strerror(ENAMETOOLONG)), 1U);
}

} // namespace
} // namespace vela::ap::statemanager::config
