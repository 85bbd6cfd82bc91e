#include "tools/simulator/iam_requests.hpp"

#include "tools/simulator/program_launch.hpp"

#include <sys/wait.h>

namespace tarn1::simulator
{

namespace
{

/// Starts the IAM client tool with its output discarded; -1 with the reason when it cannot be
/// started.
pid_t start_iam_client(const std::string& program, const std::vector<std::string>& arguments, std::string& error)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Launch_options options;
    options.discard_output = true;
    int no_output = -1;
    return launch_program(argv, options, no_output, error);
}

/// The decision the IAM client tool reported through its exit status: 0 allowed, 1 denied,
/// 2 error, 3 anything else.
int wait_for_iam_client(pid_t pid)
{
    const int status = wait_for_child(pid);
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
    const pid_t pid = start_iam_client(program, arguments, error);
    if (pid < 0)
    {
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
        const pid_t pid = start_iam_client(program, arguments, error);
        if (pid < 0)
        {
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
