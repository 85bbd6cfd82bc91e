#include "tarn1/os_error/error_text.hpp"

#include <cerrno>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace
{

using tarn1::os_error::error_text;

class Error_text_values : public ::testing::TestWithParam<int>
{
};

TEST_P(Error_text_values, GivesTheSameTextAsStrerror)
{
    EXPECT_EQ(error_text(GetParam()), std::string(std::strerror(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Errno, Error_text_values, ::testing::Values(0, EPERM, ENOENT, EAGAIN, ENAMETOOLONG, 99999));

TEST(Error_text, ThreadsAskingAtOnceEachGetTheirOwnText)
{
    const std::string expected_enoent = std::strerror(ENOENT);
    const std::string expected_eacces = std::strerror(EACCES);
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (std::size_t i = 0; i < wrong.size(); ++i)
    {
        threads.emplace_back(
            [&, i]
            {
                const int error = (i % 2 == 0) ? ENOENT : EACCES;
                const std::string& expected = (i % 2 == 0) ? expected_enoent : expected_eacces;
                for (int round = 0; round < 2000; ++round)
                {
                    if (error_text(error) != expected)
                    {
                        ++wrong[i];
                    }
                }
            });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }
    EXPECT_THAT(wrong, ::testing::Each(0));
}

} // namespace
