#include "ara/log/testing/log_capture.h"
#include "client_state_notifier/utilities.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <system_error>

namespace utilities
{
namespace
{

struct Text_case
{
    const char* name;
    std::string input;
    std::string expected;
};

void PrintTo(const Text_case& value, std::ostream* out)
{
    *out << value.name;
}

class Remove_quotes_test : public ::testing::TestWithParam<Text_case>
{
};

TEST_P(Remove_quotes_test, DropsOnlyLeadingAndTrailingQuotes)
{
    EXPECT_EQ(remove_quotes(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts,
                         Remove_quotes_test,
                         ::testing::Values(Text_case{"QuotedVar", "\"/var\"", "/var"},
                                           Text_case{"OnlyQuotes", "\"\"\"", ""},
                                           Text_case{"Empty", "", ""},
                                           Text_case{"InnerQuotesKept", "\"\"a\"b\"", "a\"b"},
                                           Text_case{"NoQuotes", "plain", "plain"}),
                         [](const ::testing::TestParamInfo<Text_case>& param_info)
                         { return std::string(param_info.param.name); });

class Log_text_test : public ::testing::TestWithParam<Text_case>
{
};

TEST_P(Log_text_test, ClientTextIsWrittenBoundedAndOnOneLine)
{
    EXPECT_EQ(log_text(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts,
    Log_text_test,
    ::testing::Values(
        Text_case{"PlainNameUnchanged", "diag::dcm", "diag::dcm"},
        Text_case{"Empty", "", ""},
        Text_case{"Utf8Unchanged", "navigation_\xc3\xa9", "navigation_\xc3\xa9"},
        Text_case{"LongestUnchanged", std::string(128, 'a'), std::string(128, 'a')},
        Text_case{"LongerIsCutWithItsSize", std::string(70000, 'a'), std::string(128, 'a') + "... (70000 bytes)"},
        Text_case{"LineBreakCannotStartALine", "app\n2026 STMG [fatal] x", "app\\x0a2026 STMG [fatal] x"},
        Text_case{"ControlCharacters", std::string("a\0b\x1b\x7f", 5), "a\\x00b\\x1b\\x7f"}),
    [](const ::testing::TestParamInfo<Text_case>& param_info) { return std::string(param_info.param.name); });

class Containing_directory_test : public ::testing::TestWithParam<Text_case>
{
};

TEST_P(Containing_directory_test, EndsAtTheFirstSlashBeforeTheLastComponent)
{
    EXPECT_EQ(get_containing_directory(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths,
    Containing_directory_test,
    ::testing::Values(Text_case{"SocketPath", "/var/run/adaptive/ara_SM/ara_SM.socket", "/var/run/adaptive/ara_SM/"},
                      Text_case{"Root", "/", ""},
                      Text_case{"BareName", "name", ""},
                      Text_case{"TopLevel", "/a", "/"},
                      Text_case{"TrailingSlashes", "a/b//", "a/"},
                      Text_case{"RunOfSlashes", "a//b", "a/"}),
    [](const ::testing::TestParamInfo<Text_case>& param_info) { return std::string(param_info.param.name); });

TEST(Protocol_constants_test, SocketPathIsBuiltFromTheQuotedVar)
{
    EXPECT_EQ(get_socket_path(), "/var/run/adaptive/ara_SM/ara_SM.socket");
    EXPECT_EQ(get_socket_path().size(), 38U);
}

class Files_test : public ::testing::Test
{
  protected:
    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
};

TEST_F(Files_test, MakeDirsCreatesEveryMissingLevelAndAcceptsExistingOnes)
{
    const auto path = m_dir.file("run/adaptive/ara_SM/");

    make_dirs(path, 0755);
    make_dirs(path, 0755);

    struct stat info
    {
    };
    ASSERT_EQ(::stat(m_dir.file("run/adaptive/ara_SM").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0755U & ~0022U);
}

TEST_F(Files_test, MakeDirFailureNamesThePath)
{
    const auto path = m_dir.path();

    try
    {
        make_dir(path, 0755);
        FAIL() << "no exception";
    }
    catch (const std::system_error& error)
    {
        EXPECT_EQ(std::string(error.what()),
                  std::system_error(EEXIST, std::system_category(), "mkdir('" + path + "')").what());
    }
}

TEST_F(Files_test, DeleteFileRemovesAFileAndIgnoresAMissingOne)
{
    const auto path = m_dir.write_file("stale.socket", "x");

    delete_file(path);
    delete_file(path);

    EXPECT_FALSE(file_exists(path));
    EXPECT_FALSE(file_exists(""));
}

TEST_F(Files_test, DeleterThatMustNotFindItsPathLogsAndRemovesIt)
{
    const auto path = m_dir.write_file("stale.socket", "x");

    {
        Deleter sut(path, false);
        EXPECT_FALSE(file_exists(path));
        m_dir.write_file("stale.socket", "again");
    }

    EXPECT_EQ(m_capture.count("file not supposed to exist, trying to delete it: " + path, ara::log::LogLevel::kError),
              1U);
    EXPECT_FALSE(file_exists(path));
}

TEST_F(Files_test, DeleterOfANonEmptyDirectoryLogsInsteadOfThrowing)
{
    const auto path = m_dir.file("full");
    make_dir(path, 0755);
    m_dir.write_file("full/content", "x");

    {
        Deleter sut(path, true);
    }

    const auto texts = m_capture.texts(ara::log::LogLevel::kError);
    ASSERT_EQ(texts.size(), 1U);
    EXPECT_EQ(texts[0].rfind("deleting file " + path + " failed with error remove('" + path + "'): ", 0), 0U)
        << texts[0];
    delete_file(path + "/content");
}

TEST_F(Files_test, TemporaryDirectoryIsRemovedWithItsDeleter)
{
    std::string path;
    {
        const auto sut = create_tmp_dir();
        path = sut.get_path();
        EXPECT_EQ(path.rfind("/tmp/state_notification_lib_test.", 0), 0U);
        EXPECT_TRUE(file_exists(path));
    }

    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(get_static_tmp_dir(), get_static_tmp_dir());
    EXPECT_TRUE(file_exists(get_static_tmp_dir()));
}

} // namespace
} // namespace utilities
