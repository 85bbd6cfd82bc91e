#include "testbed/support/iam_daemon_process.hpp"

#include "tarn1/os_error/error_text.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarn1::testing
{

namespace
{

/// Exit status of a child that could not make its mount namespace.
constexpr int s_no_namespace = 77;

bool accepts(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
    {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
    {
        ::close(fd);
    }
    return connected;
}

} // namespace

Iam_daemon_process::Iam_daemon_process(std::string program,
                                       std::string folder,
                                       std::string alias_rules,
                                       std::string policy)
    : m_program(std::move(program))
    , m_folder(std::move(folder))
    , m_alias_rules(std::move(alias_rules))
    , m_policy(std::move(policy))
{
}

Iam_daemon_process::~Iam_daemon_process()
{
    resume();
    kill();
}

bool Iam_daemon_process::start(std::string& why_not)
{
    if (::geteuid() != 0)
    {
        why_not = "needs root: the IAM daemon runs in a private mount namespace, its clients under other uids";
        return false;
    }
    const std::string run = m_folder + "/run";
    ::mkdir(run.c_str(), 0755);
    Child_options options;
    options.argv = {m_program};
    options.environment = {"TARN1_IAM_ALIAS_RULES=" + m_alias_rules,
                           "TARN1_IAM_POLICY=" + m_policy,
                           "ARA_LOG_LEVEL=debug",
                           "ARA_LOG_CONSOLE=1",
                           "ARA_LOG_DLT=0"};
    options.inherit_environment = false;
    options.output_file = m_folder + "/iam_daemon.log";
    options.append_output = true;
    options.before_exec = [run = run.c_str()]
    {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(run, "/var/run", nullptr, MS_BIND, nullptr) != 0)
        {
            return s_no_namespace;
        }
        ::umask(0);
        return 0;
    };
    m_child = std::make_unique<Child_process>(std::move(options));
    if (!m_child->started())
    {
        why_not = std::string("fork: ") + tarn1::os_error::error_text(errno);
        m_child.reset();
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline)
    {
        // ended already: its status says why
        const int status = m_child->wait_for_exit(std::chrono::milliseconds(5));
        if (status >= 0)
        {
            m_child.reset();
            why_not = status == s_no_namespace ? "cannot make a private mount namespace over /var/run"
                                               : "the IAM daemon ended at start-up: " + log();
            return false;
        }
        if (accepts(socket()))
        {
            return true;
        }
    }
    why_not = "the IAM daemon's socket did not come: " + log();
    return false;
}

void Iam_daemon_process::kill()
{
    m_child.reset();
}

void Iam_daemon_process::pause()
{
    if (m_child)
    {
        m_child->send(SIGSTOP);
    }
}

void Iam_daemon_process::resume()
{
    if (m_child)
    {
        m_child->send(SIGCONT);
    }
}

std::string Iam_daemon_process::log() const
{
    std::ifstream file(m_folder + "/iam_daemon.log");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace tarn1::testing
