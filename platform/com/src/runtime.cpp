#include "runtime.hpp"

#include "access_control.hpp"
#include "ara/log/logging.h"
#include "kest/com/exceptions.h"
#include "kest/com/runtime/component_singleton.h"

#include <algorithm>
#include <cstdlib>

namespace kest::com::internal
{

namespace
{
std::uint64_t number_from_environment(const char* name, std::uint64_t fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
    {
        return fallback;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || value == 0)
    {
        return fallback;
    }
    return value;
}
} // namespace

Settings Settings::from_environment()
{
    Settings settings;
    if (const char* directory = std::getenv("TARN1_COM_DIR"); directory != nullptr && *directory != '\0')
    {
        settings.directory = directory;
        while (settings.directory.size() > 1 && settings.directory.back() == '/')
        {
            settings.directory.pop_back();
        }
    }
    settings.call_timeout = std::chrono::milliseconds(number_from_environment(
        "TARN1_COM_CALL_TIMEOUT_MS", static_cast<std::uint64_t>(s_default_call_timeout.count())));
    settings.workers = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(number_from_environment("TARN1_COM_WORKERS", s_default_workers), s_min_workers, 64));
    settings.max_connections =
        static_cast<std::size_t>(number_from_environment("TARN1_COM_MAX_CONNECTIONS", s_default_max_connections));
    settings.max_connections_per_uid = static_cast<std::size_t>(
        number_from_environment("TARN1_COM_MAX_CONNECTIONS_PER_UID", s_default_max_connections_per_uid));
    if (const char* socket = std::getenv("TARN1_COM_IAM_SOCKET"); socket != nullptr && *socket != '\0')
    {
        settings.iam_socket = socket;
    }
    if (const char* mode = std::getenv("TARN1_COM_IAM_MODE"); mode != nullptr && *mode != '\0')
    {
        const std::string text = mode;
        if (text == "audit")
        {
            settings.iam_mode = Access_mode::kAudit;
        }
        else if (text != "enforce")
        {
            // A mistyped mode must not open what enforcing would keep shut.
            settings.iam_mode_unknown = text;
        }
    }
    settings.iam_timeout = std::chrono::milliseconds(std::min<std::uint64_t>(
        number_from_environment("TARN1_COM_IAM_TIMEOUT_MS", static_cast<std::uint64_t>(s_default_iam_timeout.count())),
        static_cast<std::uint64_t>(s_max_iam_timeout.count())));
    return settings;
}

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

Search::Search(std::shared_ptr<Runtime> runtime,
               cpp_binding::Find_service_handler handler,
               vela::com::runtime::Service_id service,
               vela::com::runtime::Instance_id instance)
    : m_runtime(std::move(runtime))
    , m_handler(std::move(handler))
    , m_service(std::move(service))
    , m_instance(std::move(instance))
    , m_strand(m_runtime->pool())
{
}

void Search::start()
{
    // On the I/O thread, so the first list and every later one arrive in order.
    m_runtime->loop().post(
        [weak = weak_from_this()]
        {
            if (auto self = weak.lock())
            {
                self->m_runtime->discovery().add_listener(self);
                self->on_entries_changed(self->m_runtime->discovery().snapshot());
            }
        });
}

void Search::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_strand.close();
}

void Search::on_entries_changed(const std::vector<cpp_binding::Service_handle>& offered)
{
    auto matching = filter_handles(offered, m_service, m_instance);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopped || (m_last && *m_last == matching))
    {
        return;
    }
    m_last = matching;
    m_next = std::move(matching);
    // One hand-over at a time, whatever a busy handler and a directory that keeps changing meet.
    if (m_hand_over_queued)
    {
        return;
    }
    m_hand_over_queued = true;
    m_strand.post(
        [weak = weak_from_this()]
        {
            if (auto self = weak.lock())
            {
                self->hand_over();
            }
        });
}

void Search::hand_over()
{
    std::vector<cpp_binding::Service_handle> matching;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hand_over_queued = false;
        if (m_stopped || !m_next)
        {
            return;
        }
        matching = std::move(*m_next);
        m_next.reset();
    }
    m_handler(std::move(matching));
}

} // namespace kest::com::internal

namespace kest::com::cpp_binding
{

namespace
{
// Guards the searches of every finder: met by threads starting and stopping searches (also handlers).
std::mutex s_searches_mutex;
std::map<std::uint64_t, std::shared_ptr<internal::Search>> s_searches;
} // namespace

Service_finder::Service_finder()
    : m_runtime(internal::Runtime::acquire())
{
}

Service_finder::~Service_finder() = default;

Find_service_handle Service_finder::start_find_service(Find_service_handler handler,
                                                       const vela::com::runtime::Service_id& service,
                                                       const vela::com::runtime::Instance_id& instance)
{
    auto search = std::make_shared<internal::Search>(m_runtime, std::move(handler), service, instance);
    const Find_service_handle handle{m_runtime->next_id()};
    {
        std::lock_guard<std::mutex> lock(s_searches_mutex);
        s_searches[handle.id] = search;
    }
    search->start();
    return handle;
}

void Service_finder::stop_find_service(const Find_service_handle& handle)
{
    std::shared_ptr<internal::Search> search;
    {
        std::lock_guard<std::mutex> lock(s_searches_mutex);
        const auto found = s_searches.find(handle.id);
        if (found == s_searches.end())
        {
            return;
        }
        search = std::move(found->second);
        s_searches.erase(found);
    }
    search->stop();
}

std::vector<Service_handle> Service_finder::find_service(const vela::com::runtime::Service_id& service,
                                                         const vela::com::runtime::Instance_id& instance)
{
    return internal::filter_handles(m_runtime->discovery().snapshot(), service, instance);
}

std::vector<Service_handle> Service_finder::find_all()
{
    return m_runtime->discovery().snapshot();
}

} // namespace kest::com::cpp_binding

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
