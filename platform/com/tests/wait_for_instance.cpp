#include "platform/com/tests/wait_for_instance.hpp"

#include <condition_variable>
#include <mutex>

namespace tarn1::testing
{

std::optional<kest::com::cpp_binding::Service_handle> wait_for_instance(kest::com::cpp_binding::Service_finder& finder,
                                                                        const std::string& service,
                                                                        const std::string& instance,
                                                                        std::chrono::milliseconds timeout)
{
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<kest::com::cpp_binding::Service_handle> found;
    const auto search = finder.start_find_service(
        [&](std::vector<kest::com::cpp_binding::Service_handle> handles)
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!handles.empty())
            {
                found = handles.front();
                changed.notify_all();
            }
        },
        vela::com::runtime::Service_id(service),
        vela::com::runtime::Instance_id(instance));
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, timeout, [&] { return found.has_value(); });
    }
    finder.stop_find_service(search);
    std::lock_guard<std::mutex> lock(mutex);
    return found;
}

} // namespace tarn1::testing
