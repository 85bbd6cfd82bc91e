#include "search.hpp"

#include "kest/com/cpp_binding/service_finder.h"
#include "runtime.hpp"

#include <cstdint>
#include <map>
#include <utility>

namespace kest::com::internal
{

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
