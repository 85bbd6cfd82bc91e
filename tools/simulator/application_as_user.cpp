#include "tools/simulator/application_as_user.hpp"

#include "tools/simulator/errno_text.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

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
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (auto& arg : argv)
    {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
    {
        error = errno_text("pipe");
        return false;
    }
    // Made before the fork: between fork and exec only async-signal-safe calls are allowed.
    const std::string refused = "app cannot run as uid " + std::to_string(uid) +
                                " here (setresuid failed: the simulator of an ordinary user maps only root; run it "
                                "as root)\n";
    const std::string prefix = "as uid " + std::to_string(uid) + ": ";
    const pid_t pid = ::fork();
    if (pid < 0)
    {
        error = errno_text("fork");
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    if (pid == 0)
    {
        ::dup2(ends[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)
        {
            (void)!::write(STDOUT_FILENO, refused.data(), refused.size());
            ::_exit(126);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(ends[1]);
    std::string output;
    char buffer[1024];
    ssize_t count = 0;
    while ((count = ::read(ends[0], buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR))
    {
        output.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    }
    ::close(ends[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
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
                        std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")");
    }
    return true;
}

} // namespace tarn1::simulator
