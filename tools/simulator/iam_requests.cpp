#include "tools/simulator/iam_requests.hpp"

#include "tools/simulator/errno_text.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarn1::simulator
{

namespace
{

/// Starts the IAM client tool with its output discarded; -1 when it cannot be started.
pid_t start_iam_client(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv)
    {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

/// The decision the IAM client tool reported through its exit status: 0 allowed, 1 denied,
/// 2 error, 3 anything else.
int wait_for_iam_client(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 3;
    return code >= 0 && code <= 2 ? code : 3;
}

const char* const s_iam_results[] = {"allowed", "denied", "error", "failed (no answer)"};

} // namespace

bool iam_request(Journal& journal,
                 const std::string& program,
                 const std::vector<std::string>& arguments,
                 std::string& error)
{
    const pid_t pid = start_iam_client(program, arguments);
    if (pid < 0)
    {
        error = errno_text("fork");
        return false;
    }
    journal.add("iam", s_iam_results[wait_for_iam_client(pid)]);
    return true;
}

bool iam_burst(Journal& journal,
               const std::string& program,
               std::size_t count,
               const std::vector<std::string>& arguments,
               std::string& error)
{
    std::vector<pid_t> clients;
    for (std::size_t i = 0; i < count; ++i)
    {
        const pid_t pid = start_iam_client(program, arguments);
        if (pid < 0)
        {
            error = errno_text("fork");
            break;
        }
        clients.push_back(pid);
    }
    std::size_t results[4] = {0, 0, 0, 0};
    for (const pid_t pid : clients)
    {
        ++results[wait_for_iam_client(pid)];
    }
    if (clients.size() != count)
    {
        return false;
    }
    journal.add("iam",
                "burst " + std::to_string(count) + ": " + std::to_string(results[0]) + " allowed, " +
                    std::to_string(results[1]) + " denied, " + std::to_string(results[2]) + " error, " +
                    std::to_string(results[3]) + " failed");
    return true;
}

} // namespace tarn1::simulator
