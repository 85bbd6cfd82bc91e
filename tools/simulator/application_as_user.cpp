#include "tools/simulator/application_as_user.hpp"

#include "tools/simulator/program_launch.hpp"

namespace tarn1::simulator
{

bool call_application_as(Journal& journal,
                         const std::string& self,
                         unsigned uid,
                         const std::string& verb,
                         const std::string& service,
                         const std::vector<std::string>& arguments,
                         std::string& error)
{
    std::vector<std::string> argv{self, "--app-call", verb, service};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Launch_options options;
    options.uid = uid;
    options.cannot_switch_user = "app cannot run as uid " + std::to_string(uid) +
                                 " here (setresuid failed: the simulator of an ordinary user maps only root; run "
                                 "it as root)\n";
    int fd = -1;
    const pid_t pid = launch_program(argv, options, fd, error);
    if (pid < 0)
    {
        return false;
    }
    // An application prints a line or two; more is not kept.
    const std::string output = read_to_end(fd, 1U << 20U);
    const int status = wait_for_child(pid);
    const std::string prefix = "as uid " + std::to_string(uid) + ": ";
    bool reported = false;
    std::size_t start = 0;
    for (std::size_t end = output.find('\n'); end != std::string::npos; end = output.find('\n', start))
    {
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        if (line.rfind("app ", 0) == 0)
        {
            journal.add("app", prefix + line.substr(4));
            reported = true;
        }
    }
    if (!reported)
    {
        journal.add("app",
                    prefix + verb + " " + service + ": no outcome (exit status " +
                        std::to_string(exit_status_of(status)) + ")");
    }
    return true;
}

} // namespace tarn1::simulator
