#pragma once

#include <optional>
#include <string>

namespace tarn1::simulator
{

/// Which hypervisor keyboard a person asked for (--keyboard fifo|uinput|auto).
enum class Keyboard_request
{
    automatic,
    fifo,
    uinput
};

std::optional<Keyboard_request> parse_keyboard_request(const std::string& word);

/// What the machine offers for a real keyboard. Paths are parameters so tests use a temporary
/// folder; the defaults are the machine's own.
struct Keyboard_places
{
    /// Opened for writing to make the keyboard.
    std::string uinput{"/dev/uinput"};
    /// The machine's device folder as seen inside the private namespace (where the kernel puts
    /// the keyboard's event node); empty when it could not be kept there.
    std::string host_dev;
    /// Present while a login manager runs: it takes the power key of every keyboard, and the
    /// desktop takes the letters.
    std::string seats{"/run/systemd/seats"};
};

/// The keyboard to use, or none with the reason a real one was demanded but is impossible.
struct Keyboard_choice
{
    enum class Kind
    {
        fifo,
        uinput,
        none
    };
    Kind kind;
    std::string reason;
};

/// Decides between the FIFO stand-in and a real uinput keyboard. A real keyboard is seen by the
/// whole machine, so "auto" takes it only where no login manager would act on its power key.
Keyboard_choice choose_keyboard(Keyboard_request request, const Keyboard_places& places);

} // namespace tarn1::simulator
