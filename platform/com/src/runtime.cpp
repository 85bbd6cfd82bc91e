#include "runtime.hpp"

#include "access_control.hpp"
#include "ara/log/logging.h"
#include "iam_client.hpp"
#include "kest/com/runtime/component_singleton.h"

#include <mutex>
#include <thread>
#include <utility>

namespace kest::com::internal
{

namespace
{
// Guards s_current: met by every thread creating or releasing middleware objects.
std::mutex s_current_mutex;
std::weak_ptr<Runtime> s_current;
} // namespace

void Runtime::retire(const Runtime* runtime)
{
    std::lock_guard<std::mutex> lock(s_current_mutex);
    if (s_current.lock().get() == runtime)
    {
        s_current.reset();
    }
}

std::shared_ptr<Runtime> Runtime::acquire()
{
    std::lock_guard<std::mutex> lock(s_current_mutex);
    if (auto current = s_current.lock())
    {
        return current;
    }
    std::shared_ptr<Runtime> created(new Runtime(),
                                     [](Runtime* runtime)
                                     {
                                         // The last holder may be one of the runtime's own threads, which cannot join
                                         // itself.
                                         if (runtime->is_runtime_thread())
                                         {
                                             std::thread([runtime] { delete runtime; }).detach();
                                         }
                                         else
                                         {
                                             delete runtime;
                                         }
                                     });
    s_current = created;
    return created;
}

Runtime::Runtime()
    : m_settings(Settings::from_environment())
    , m_pool(m_settings.workers)
    , m_discovery(std::make_shared<Discovery>(m_loop, m_settings.directory))
{
    m_pool.set_poller(&m_loop);
    try
    {
        m_discovery->start();
    }
    catch (...)
    {
        m_pool.stop();
        m_pool.join();
        m_loop.stop();
        throw;
    }
    if (!m_settings.iam_socket.empty())
    {
        m_access = std::make_shared<Access_control>(
            m_settings.iam_mode, m_settings.iam_timeout, std::make_shared<Iam_client>(m_loop, m_settings.iam_socket));
        ara::log::LogInfo() << "com: access control on ("
                            << (m_settings.iam_mode == Access_mode::kAudit ? "audit" : "enforce")
                            << " mode), IAM daemon at " << m_settings.iam_socket;
        if (!m_settings.iam_mode_unknown.empty())
        {
            ara::log::LogWarn() << "com: TARN1_COM_IAM_MODE=" << m_settings.iam_mode_unknown
                                << " is neither enforce nor audit; enforcing";
        }
    }
}

Runtime::~Runtime()
{
    if (m_access)
    {
        m_access->iam().stop();
    }
    m_discovery->stop();
    m_pool.stop();
    m_pool.join();
    m_loop.stop();
}

} // namespace kest::com::internal

namespace kest::com::runtime
{

Thread_pool_factory::Thread_pool_factory(std::shared_ptr<internal::Runtime> runtime)
    : m_runtime(std::move(runtime))
{
}

static_thread_pool& Thread_pool_factory::get_default_pool()
{
    return m_runtime->pool();
}

std::shared_ptr<static_thread_pool> Thread_pool_factory::create_thread_pool(std::size_t threads)
{
    return std::make_shared<static_thread_pool>(threads);
}

Component_singleton::Component_singleton(bool /*flag*/, std::string name)
    : m_runtime(internal::Runtime::acquire())
    , m_name(std::move(name))
    , m_pools(m_runtime)
{
    ara::log::LogDebug() << "com runtime " << m_name << " uses " << m_runtime->settings().directory;
}

Component_singleton::~Component_singleton()
{
    // Threads of the runtime may still hold it for a moment; a runtime created after this one is a
    // fresh one (with the environment of that moment), never the one being wound down.
    internal::Runtime::retire(m_runtime.get());
}

cpp_binding::Service_finder& Component_singleton::get_service_finder()
{
    return m_finder;
}

Thread_pool_factory& Component_singleton::get_thread_pool_factory()
{
    return m_pools;
}

} // namespace kest::com::runtime
