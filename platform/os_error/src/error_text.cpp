#include "tarn1/os_error/error_text.hpp"

#include <cstring>

namespace tarn1::os_error
{

std::string error_text(int error)
{
    // strerror keeps its text in a buffer that the next call of any thread may overwrite.
    char buffer[128];
    return ::strerror_r(error, buffer, sizeof buffer);
}

} // namespace tarn1::os_error
