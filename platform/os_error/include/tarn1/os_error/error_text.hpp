#pragma once

#include <string>

namespace tarn1::os_error
{

/// The system's text of an errno value ("No such file or directory"), the same text strerror gives;
/// safe to call from any thread at once. An unknown value gives "Unknown error <value>".
std::string error_text(int error);

} // namespace tarn1::os_error
