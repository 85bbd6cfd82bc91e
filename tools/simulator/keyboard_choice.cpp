#include "tools/simulator/keyboard_choice.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tarn1::simulator
{

namespace
{

/// Empty when path opens for writing, else why not.
std::string writable(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        return path + ": " + std::error_code(errno, std::system_category()).message();
    }
    ::close(fd);
    return {};
}

bool is_directory(const std::string& path)
{
    struct stat info
    {
    };
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::optional<Keyboard_request> parse_keyboard_request(const std::string& word)
{
    if (word == "auto")
    {
        return Keyboard_request::automatic;
    }
    if (word == "fifo")
    {
        return Keyboard_request::fifo;
    }
    if (word == "uinput")
    {
        return Keyboard_request::uinput;
    }
    return std::nullopt;
}

Keyboard_choice choose_keyboard(Keyboard_request request, const Keyboard_places& places)
{
    using Kind = Keyboard_choice::Kind;
    if (request == Keyboard_request::fifo)
    {
        return {Kind::fifo, "asked for with --keyboard fifo"};
    }
    const bool demanded = request == Keyboard_request::uinput;
    const std::string refusal = writable(places.uinput);
    if (!refusal.empty())
    {
        return {demanded ? Kind::none : Kind::fifo, "no real keyboard: " + refusal};
    }
    if (!is_directory(places.host_dev))
    {
        return {demanded ? Kind::none : Kind::fifo,
                "no real keyboard: the machine's device folder is not reachable inside the namespace"};
    }
    if (is_directory(places.seats))
    {
        if (demanded)
        {
            return {Kind::uinput,
                    "asked for with --keyboard uinput; a login manager runs here (" + places.seats +
                        ") and sees its keys too: the power key may end this machine's session"};
        }
        return {Kind::fifo,
                "a login manager runs here (" + places.seats +
                    "): it would act on a real keyboard's power key and the desktop would get its letters; "
                    "--keyboard uinput makes one anyway"};
    }
    return {Kind::uinput, demanded ? "asked for with --keyboard uinput" : places.uinput + " can be opened"};
}

} // namespace tarn1::simulator
