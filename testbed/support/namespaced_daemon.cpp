#include "testbed/support/namespaced_daemon.hpp"

#include <climits>
#include <cstdlib>

namespace tarn1::testing
{
namespace
{

Child_options daemon_options(const Temp_dir& dir,
                             const std::string& program,
                             const std::vector<std::string>& environment,
                             const Namespaced_daemon_options& options)
{
    // One shell command, split over lines.
    const char* const mount_and_exec =
        "if [ -n \"$TARN1_INPUT_DIR\" ]; then mount --bind \"$TARN1_INPUT_DIR\" /dev/input; fi && "
        "if [ -n \"$TARN1_RUN_FOLDER\" ]; then mount --bind \"$TARN1_RUN_FOLDER\" /var/run/adaptive; fi && "
        "LD_PRELOAD=\"$TARN1_PRELOAD\" exec \"$0\"";
    Child_options child;
    child.argv = {"unshare",
                  "--mount",
                  "--propagation",
                  "private",
                  TARN1_VM_PATHS_SCRIPT,
                  dir.file("statewarden.json"),
                  "sh",
                  "-c",
                  mount_and_exec,
                  program};
    child.environment = environment;
    child.environment.push_back("TARN1_RUN_FOLDER=" + options.run_folder);
    child.output_file = dir.file(options.log_name);
    child.descriptor_limit = options.descriptor_limit;
    return child;
}

} // namespace

Namespaced_daemon::Namespaced_daemon(const Temp_dir& dir,
                                     const std::string& program,
                                     const std::vector<std::string>& environment,
                                     const Namespaced_daemon_options& options)
    : m_child(daemon_options(dir, program, environment, options))
{
}

std::string Namespaced_daemon::inside(const std::string& path) const
{
    // /var/run is often a link to /run, which /proc/<pid>/root would resolve in our own root
    char resolved[PATH_MAX] = {};
    const std::string real = ::realpath("/var/run", resolved) != nullptr && path.rfind("/var/run", 0) == 0
                                 ? std::string(resolved) + path.substr(8)
                                 : path;
    return "/proc/" + std::to_string(m_child.pid()) + "/root" + real;
}

} // namespace tarn1::testing
