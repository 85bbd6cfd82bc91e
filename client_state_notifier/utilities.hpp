#pragma once

#include "ara/log/logging.h"
#include "client_state_notifier/socket.hpp"
#include "client_state_notifier/type_length_value.hpp"

#include <string>
#include <sys/types.h>

namespace utilities
{

/// Drops every leading and trailing double quote; quotes inside are kept.
std::string remove_quotes(const std::string& text);

/// A client's text (its name, a state) as it goes into a log line: unchanged when it is at most
/// 128 bytes of printable characters; otherwise control characters are written as \xNN and a
/// longer text is cut after 128 bytes and followed by "... (<size> bytes)", so that no client
/// can write long lines or lines of its own making into the log.
std::string log_text(const std::string& text);

/// The notification socket the server listens on.
const std::string& get_socket_path();
/// Element [0] of the hello message: "component_client_v1".
const std::string& get_protocol_version_one();
/// The request-added command that travels over the server's wake-up socket pair.
const std::string& get_state_change_request_added();
/// The terminate command that travels over the server's wake-up socket pair.
const std::string& get_terminate_command();
/// Placeholder state of a client record before the default state is copied in.
const std::string& get_unknown_state();
/// The state a client side assumes while it has no connection: "kOn".
const std::string& get_default_non_connected_state();
/// The elements of the terminate command.
Elements create_terminate_command();

/// False for an empty path, otherwise whether stat(2) succeeds.
bool file_exists(const std::string& path);
/// The directory part of path including the slash that ends it ("" for "/" and for a bare name).
std::string get_containing_directory(const std::string& path);
/// Removes a file or an empty directory; a missing path is fine. Failure throws "remove('<path>')".
void delete_file(const std::string& path);
/// mkdir(2); failure throws "mkdir('<path>')".
void make_dir(const std::string& path, mode_t mode);
/// Creates every missing level of path.
void make_dirs(const std::string& path, mode_t mode);

/// Removes the file or empty directory at its path when destroyed.
class Deleter
{
  public:
    /// When may_exist is false and the path exists, logs an error and deletes it first.
    Deleter(std::string path, bool may_exist);
    ~Deleter();

    Deleter(const Deleter&) = delete;
    Deleter& operator=(const Deleter&) = delete;
    Deleter(Deleter&& other) noexcept;
    Deleter& operator=(Deleter&&) = delete;

    const std::string& get_path() const noexcept { return m_path; }

  private:
    std::string m_path;
};

/// A fresh directory "/tmp/state_notification_lib_test.XXXXXX", removed with the Deleter.
Deleter create_tmp_dir();
/// One such directory per process, removed at process exit.
const std::string& get_static_tmp_dir();

/// The library's logging context "SNCC", created on first use.
ara::log::Logger& get_logger();

} // namespace utilities
