#include "ara/log/logging.h"
#include "testbed/support/child_process.hpp"
#include "testbed/support/temp_dir.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Messages sent through libdlt to a real dlt-daemon, read back from the daemon's TCP port and
// decoded from the DLT wire format: each streamed piece must arrive as one verbose-mode argument
// of its own type, in order.
namespace
{

using namespace std::chrono_literals;
using ara::log::LogLevel;
using ara::log::LogMode;

struct Dlt_argument
{
    std::uint32_t type_info;
    std::string text;
    std::uint64_t value;
};

struct Dlt_log_message
{
    std::string app_id;
    std::string context_id;
    unsigned level;
    std::vector<Dlt_argument> arguments;
};

constexpr std::uint32_t type_length_mask = 0x0f;
constexpr std::uint32_t type_sint = 0x20;
constexpr std::uint32_t type_uint = 0x40;
constexpr std::uint32_t type_string = 0x200;

template <typename T> T read_number(const std::uint8_t* data, bool big_endian)
{
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
    {
        const std::size_t shift = big_endian ? (sizeof(T) - 1 - i) * 8 : i * 8;
        value = static_cast<T>(value | static_cast<T>(static_cast<T>(data[i]) << shift));
    }
    return value;
}

/// Decodes one message without storage header; false when it is no verbose log message.
bool decode(const std::vector<std::uint8_t>& bytes, Dlt_log_message& out)
{
    const std::uint8_t header_type = bytes[0];
    const bool use_extended = (header_type & 0x01) != 0;
    const bool big_endian = (header_type & 0x02) != 0;
    std::size_t at = 4;
    at += (header_type & 0x04) != 0 ? 4 : 0; // ECU id
    at += (header_type & 0x08) != 0 ? 4 : 0; // session id
    at += (header_type & 0x10) != 0 ? 4 : 0; // timestamp
    if (!use_extended || at + 10 > bytes.size())
    {
        return false;
    }
    const std::uint8_t message_info = bytes[at];
    const bool verbose = (message_info & 0x01) != 0;
    const unsigned message_type = (message_info >> 1) & 0x07;
    if (!verbose || message_type != 0)
    {
        return false;
    }
    out.level = (message_info >> 4) & 0x0f;
    const unsigned argument_count = bytes[at + 1];
    out.app_id.assign(reinterpret_cast<const char*>(&bytes[at + 2]),
                      strnlen(reinterpret_cast<const char*>(&bytes[at + 2]), 4));
    out.context_id.assign(reinterpret_cast<const char*>(&bytes[at + 6]),
                          strnlen(reinterpret_cast<const char*>(&bytes[at + 6]), 4));
    at += 10;
    out.arguments.clear();
    for (unsigned i = 0; i < argument_count; ++i)
    {
        if (at + 4 > bytes.size())
        {
            return false;
        }
        Dlt_argument argument{read_number<std::uint32_t>(&bytes[at], big_endian), {}, 0};
        at += 4;
        if ((argument.type_info & type_string) != 0)
        {
            const auto length = read_number<std::uint16_t>(&bytes[at], big_endian);
            at += 2;
            if (at + length > bytes.size())
            {
                return false;
            }
            argument.text.assign(reinterpret_cast<const char*>(&bytes[at]),
                                 strnlen(reinterpret_cast<const char*>(&bytes[at]), length));
            at += length;
        }
        else
        {
            const std::size_t width = std::size_t{1} << ((argument.type_info & type_length_mask) - 1);
            if (at + width > bytes.size())
            {
                return false;
            }
            for (std::size_t b = 0; b < width; ++b)
            {
                const std::size_t shift = big_endian ? (width - 1 - b) * 8 : b * 8;
                argument.value |= static_cast<std::uint64_t>(bytes[at + b]) << shift;
            }
            at += width;
        }
        out.arguments.push_back(argument);
    }
    return true;
}

class Dlt_daemon_test : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (::access(DLT_DAEMON_PROGRAM, X_OK) != 0)
        {
            GTEST_SKIP() << "dlt-daemon is not installed (" << DLT_DAEMON_PROGRAM << "); install package dlt-daemon";
        }
        m_port = static_cast<std::uint16_t>(20000 + (::getpid() % 20000));
        const std::string config = dir.write_file("dlt.conf",
                                                  "SendContextRegistration = 0\n"
                                                  "ECUId = TEST\n"
                                                  "LoggingMode = 3\n"
                                                  "LoggingLevel = 3\n"
                                                  "UDPConnectionSetup = 0\n"
                                                  "BindAddress = ::1;::ffff:127.0.0.1\n"
                                                  "ControlSocketPath = " +
                                                      dir.file("ctrl.sock") +
                                                      "\n"
                                                      "RingbufferMinSize = 500000\n"
                                                      "RingbufferMaxSize = 10000000\n"
                                                      "RingbufferStepSize = 500000\n");
        tarn1::testing::Child_options options;
        options.argv = {DLT_DAEMON_PROGRAM, "-c", config, "-t", dir.path(), "-p", std::to_string(m_port)};
        options.keep_output = true;
        m_daemon = std::make_unique<tarn1::testing::Child_process>(std::move(options));
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline)
        {
            struct stat info
            {
            };
            if (::stat(dir.file("dlt").c_str(), &info) == 0 && connect_client())
            {
                return;
            }
            const int status = m_daemon->wait_for_exit(0ms);
            if (status >= 0)
            {
                m_daemon.reset();
                GTEST_SKIP() << "dlt-daemon exited at start-up (status " << status << ")";
            }
            std::this_thread::sleep_for(20ms);
        }
        GTEST_SKIP() << "dlt-daemon did not open its FIFO and port " << m_port << " within 5 s";
    }

    void TearDown() override
    {
        if (m_socket >= 0)
        {
            ::close(m_socket);
        }
        if (m_daemon)
        {
            m_daemon->send(SIGTERM);
            (void)m_daemon->wait_for_exit(10s);
            m_daemon.reset();
        }
    }

    bool connect_client()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        {
            ::close(fd);
            return false;
        }
        m_socket = fd;
        return true;
    }

    /// Reads messages from the daemon until one of app/context arrives or the deadline passes.
    bool receive(const std::string& app_id, const std::string& context_id, Dlt_log_message& found)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline)
        {
            while (m_buffer.size() >= 4)
            {
                const std::size_t length = (static_cast<std::size_t>(m_buffer[2]) << 8) | m_buffer[3];
                if (length < 4 || m_buffer.size() < length)
                {
                    break;
                }
                std::vector<std::uint8_t> message(m_buffer.begin(), m_buffer.begin() + static_cast<long>(length));
                m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<long>(length));
                if (decode(message, found) && found.app_id == app_id && found.context_id == context_id)
                {
                    return true;
                }
            }
            pollfd fd{m_socket, POLLIN, 0};
            if (::poll(&fd, 1, 100) > 0)
            {
                std::uint8_t chunk[4096];
                const ssize_t got = ::read(m_socket, chunk, sizeof chunk);
                if (got <= 0)
                {
                    return false;
                }
                m_buffer.insert(m_buffer.end(), chunk, chunk + got);
            }
        }
        return false;
    }

    /// Runs dlt-control against the test's daemon; true when it exited 0 within 20 s.
    bool dlt_control(const std::vector<std::string>& arguments) const
    {
        tarn1::testing::Child_options options;
        options.argv = {DLT_CONTROL_PROGRAM, "-p", std::to_string(m_port), "-t", "300"};
        options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
        options.argv.emplace_back("127.0.0.1");
        tarn1::testing::Child_process control(std::move(options));
        return control.wait_for_exit(20s) == 0;
    }

    tarn1::testing::Temp_dir dir;
    std::uint16_t m_port{0};
    std::unique_ptr<tarn1::testing::Child_process> m_daemon;
    int m_socket{-1};
    std::vector<std::uint8_t> m_buffer;
};

TEST_F(Dlt_daemon_test, EachPieceArrivesAsOneArgumentOfItsTypeInOrder)
{
    const std::string pipe_dir = dir.path();

    const auto child = tarn1::testing::run_in_child(
        [&pipe_dir]
        {
            ::setenv("DLT_PIPE_DIR", pipe_dir.c_str(), 1);
            ::unsetenv("ARA_LOG_DLT"); // the reachable daemon must be found without forcing
            ::setenv("ARA_LOG_CONSOLE", "0", 1);
            ara::log::InitLogging("TDLT", "dlt test", LogLevel::kVerbose, LogMode::kRemote, "");
            ara::log::LogStream(LogLevel::kDebug, ara::log::CreateLogger("CTXA", "typed pieces"))
                << "text " << std::int32_t{-7} << std::int64_t{-8000000000} << std::uint8_t{200} << std::uint16_t{60000}
                << std::uint32_t{4000000000U} << std::uint64_t{9000000000000000000ULL};
            return 0;
        },
        20s);
    ASSERT_EQ(child.exit_status, 0) << child.err;
    EXPECT_EQ(child.out, "");

    Dlt_log_message message;
    ASSERT_TRUE(receive("TDLT", "CTXA", message)) << "no message of TDLT/CTXA reached the daemon";

    EXPECT_EQ(message.level, 5U); // debug passes: the context is registered at verbose level
    ASSERT_EQ(message.arguments.size(), 7U);
    EXPECT_TRUE(message.arguments[0].type_info & type_string);
    EXPECT_EQ(message.arguments[0].text, "text ");
    const std::vector<std::pair<std::uint32_t, std::uint64_t>> expected = {
        {type_sint | 3, static_cast<std::uint32_t>(-7)},
        {type_sint | 4, static_cast<std::uint64_t>(std::int64_t{-8000000000})},
        {type_uint | 1, 200},
        {type_uint | 2, 60000},
        {type_uint | 3, 4000000000U},
        {type_uint | 4, 9000000000000000000ULL}};
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        const auto& argument = message.arguments[i + 1];
        EXPECT_EQ(argument.type_info & (type_sint | type_uint | type_string | type_length_mask), expected[i].first)
            << "argument " << i + 1;
        EXPECT_EQ(argument.value, expected[i].second) << "argument " << i + 1;
    }
}

TEST_F(Dlt_daemon_test, LevelSetWithDltControlChangesWhatTheContextLetsThroughAtOnce)
{
    if (::access(DLT_CONTROL_PROGRAM, X_OK) != 0)
    {
        GTEST_SKIP() << "dlt-control is not installed (" << DLT_CONTROL_PROGRAM << "); install package dlt-tools";
    }
    const std::string pipe_dir = dir.path();
    const std::string go = dir.file("go");
    ASSERT_EQ(::mkfifo(go.c_str(), 0600), 0);

    // The child logs at the application's info level, then at each step waits for the test's
    // go-ahead (a line on a FIFO) and writes one message per level, so the test can see which
    // passed after each level change. It is forked while the test has no other thread (libdlt
    // starts one in the child) and ends with _exit, so that nothing of the test's process is
    // torn down twice.
    const std::string console = dir.file("child.err");
    const pid_t child = ::fork();
    if (child == 0)
    {
        const int err = ::open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(err, STDERR_FILENO);
        ::setenv("DLT_PIPE_DIR", pipe_dir.c_str(), 1);
        ::unsetenv("ARA_LOG_DLT");
        ::setenv("ARA_LOG_CONSOLE", "1", 1);
        ::unsetenv("ARA_LOG_LEVEL");
        ara::log::InitLogging("TLVL", "level test", LogLevel::kInfo, LogMode::kRemote, "");
        auto& logger = ara::log::CreateLogger("CTXL", "level changes");
        FILE* steps = ::fopen(go.c_str(), "r");
        char step[64];
        int step_count = 0;
        logger.LogInfo() << "ready";
        while (steps != nullptr && ::fgets(step, sizeof step, steps) != nullptr)
        {
            const std::string tag = "round " + std::to_string(++step_count);
            logger.LogVerbose() << tag << " verbose";
            logger.LogInfo() << tag << " info";
            logger.LogError() << tag << " error";
        }
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    // Whatever happens below, the child is gone when the test ends.
    struct Reaper
    {
        pid_t pid;
        bool reaped{false};
        ~Reaper()
        {
            if (!reaped)
            {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } reaper{child};

    // The FIFO opens for writing once the child has opened it for reading.
    int descriptor = -1;
    const auto opened_by = std::chrono::steady_clock::now() + 10s;
    while (descriptor < 0 && std::chrono::steady_clock::now() < opened_by)
    {
        descriptor = ::open(go.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0)
        {
            std::this_thread::sleep_for(10ms);
        }
    }
    ASSERT_GE(descriptor, 0) << "the child never opened its FIFO";
    ::fcntl(descriptor, F_SETFL, 0);
    std::unique_ptr<FILE, int (*)(FILE*)> steps(::fdopen(descriptor, "w"), &::fclose);
    ASSERT_NE(steps, nullptr);
    ::setvbuf(steps.get(), nullptr, _IOLBF, 0);
    unsigned round_number = 0;
    // One round: what of its three messages reached the daemon, without the round's tag.
    const auto next_round = [&]
    {
        ++round_number;
        const std::string tag = "round " + std::to_string(round_number);
        std::vector<std::string> seen;
        ::fprintf(steps.get(), "go\n");
        Dlt_log_message message;
        while (receive("TLVL", "CTXL", message) && message.arguments.size() == 2)
        {
            EXPECT_EQ(message.arguments[0].text, tag);
            seen.push_back(message.arguments[1].text);
            if (seen.back() == " error")
            {
                break;
            }
        }
        return seen;
    };
    // What the child's console got since the last look. A round's error message comes last, so
    // once it has reached the daemon the round's console lines before it are written.
    std::streamoff console_read = 0;
    const auto console_since_last_look = [&]
    {
        std::ifstream file(console);
        file.seekg(console_read);
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        console_read += static_cast<std::streamoff>(text.size());
        return text;
    };
    // A level change reaches the application asynchronously: libdlt takes it first, then calls the
    // context back, which sets the level the console follows. Rounds repeat until one shows the
    // new level on both, within 5 s; those before it show the old level, or the change in
    // mid-round.
    const auto rounds_until = [&](const std::vector<std::string>& after, const std::string& piece, bool shown)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        std::vector<std::string> seen;
        bool on_console = false;
        do
        {
            seen = next_round();
            on_console =
                console_since_last_look().find("round " + std::to_string(round_number) + piece) != std::string::npos;
        } while ((seen != after || on_console != shown) && std::chrono::steady_clock::now() < deadline);
        EXPECT_EQ(seen, after);
        EXPECT_EQ(on_console, shown) << "the console follows the context's level too";
    };
    const std::vector<std::string> at_info{" info", " error"};
    const std::vector<std::string> at_verbose{" verbose", " info", " error"};
    const std::vector<std::string> at_error{" error"};
    Dlt_log_message ready;
    ASSERT_TRUE(receive("TLVL", "CTXL", ready)) << "the child's first message did not reach the daemon";

    EXPECT_EQ(next_round(), at_info);
    ASSERT_TRUE(dlt_control({"-a", "TLVL", "-c", "CTXL", "-l", "6"}));
    rounds_until(at_verbose, " verbose", true);
    ASSERT_TRUE(dlt_control({"-a", "TLVL", "-c", "CTXL", "-l", "2"}));
    rounds_until(at_error, " info", false);
    steps.reset();
    int status = -1;
    for (const auto ends_by = std::chrono::steady_clock::now() + 10s;
         !reaper.reaped && std::chrono::steady_clock::now() < ends_by;)
    {
        reaper.reaped = ::waitpid(child, &status, WNOHANG) == child;
        if (!reaper.reaped)
        {
            std::this_thread::sleep_for(10ms);
        }
    }
    std::ifstream err_file(console);
    const std::string err((std::istreambuf_iterator<char>(err_file)), std::istreambuf_iterator<char>());

    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status << "\n" << err;
    EXPECT_NE(err.find(" verbose"), std::string::npos) << "the console follows the context's level too";
    EXPECT_EQ(err.find("round " + std::to_string(round_number) + " info"), std::string::npos);
}

} // namespace
