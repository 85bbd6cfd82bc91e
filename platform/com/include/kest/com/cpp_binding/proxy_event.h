#pragma once

#include "kest/com/cpp_binding/rport.h"
#include "kest/com/someip/serializer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kest::com::cpp_binding
{

/// An event or field notification as a proxy sees it, with a sample cache. Update() and
/// GetCachedSamples() belong to one thread at a time (usually the receive handler).
template <typename Sample> class Proxy_event
{
  public:
    Proxy_event(Rport& port, std::uint16_t event_id)
        : m_port(port)
        , m_event_id(event_id)
    {
    }

    /// Subscribes; the cache keeps at most max_samples of the newest samples.
    void Subscribe(std::size_t max_samples)
    {
        m_max_samples = max_samples == 0 ? 1 : max_samples;
        m_port.subscribe_event(m_event_id, m_max_samples);
    }
    void Unsubscribe() { m_port.unsubscribe_event(m_event_id); }
    void SetReceiveHandler(std::function<void()> handler)
    {
        m_port.set_receive_handler(m_event_id, std::move(handler));
    }
    void UnsetReceiveHandler() { m_port.unset_receive_handler(m_event_id); }

    /// Moves newly received samples into the cache (undecodable ones are dropped, counted and
    /// logged); returns how many were added.
    std::size_t Update()
    {
        m_incoming.clear();
        m_port.take_samples(m_event_id, m_incoming);
        std::size_t added = 0;
        for (const auto& payload : m_incoming)
        {
            Sample sample{};
            if (!someip::deserialize_arguments(payload, sample))
            {
                ++m_undecodable;
                m_port.report_undecodable_sample(m_event_id, payload.size());
                continue;
            }
            m_cache.push_back(std::move(sample));
            ++added;
        }
        if (m_cache.size() > m_max_samples)
        {
            m_cache.erase(m_cache.begin(), m_cache.end() - static_cast<std::ptrdiff_t>(m_max_samples));
        }
        return added;
    }
    const std::vector<Sample>& GetCachedSamples() const noexcept { return m_cache; }
    void Cleanup() { m_cache.clear(); }
    std::size_t undecodable_samples() const noexcept { return m_undecodable; }

  private:
    Rport& m_port;
    std::uint16_t m_event_id;
    std::size_t m_max_samples{1};
    std::vector<vela::com::runtime::Serialized_payload> m_incoming;
    std::vector<Sample> m_cache;
    std::size_t m_undecodable{0};
};

} // namespace kest::com::cpp_binding

#include "kest/com/cpp_binding/proxy_method.h"

namespace kest::com::cpp_binding
{

/// A field as a proxy sees it: its change notifications, plus its getter when it has one.
template <typename Value> class Proxy_field : public Proxy_event<Value>
{
  public:
    Proxy_field(Rport& port, std::uint16_t event_id, std::uint16_t getter_method_id)
        : Proxy_event<Value>(port, event_id)
        , m_getter(port, getter_method_id)
    {
    }
    vela::com::Future<Value> Get() { return m_getter(); }

  private:
    Proxy_method<Value> m_getter;
};

} // namespace kest::com::cpp_binding
