#pragma once

#include "kest/com/cpp_binding/pport.h"
#include "vela/com/runtime/types.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace kest::com::cpp_binding
{

/// The fields of a provided port: keeps each field's current value, notifies subscribers of
/// changes, gives the value to each new subscriber and answers the field's getter.
class Field_handler
{
  public:
    explicit Field_handler(Pport& port);

    /// Declares a field notified as event_id; its getter answers getter_method_id when given.
    void add_field(std::uint16_t event_id, std::optional<std::uint16_t> getter_method_id = std::nullopt);
    /// Stores the value and notifies the subscribers; any thread.
    void update(std::uint16_t event_id, const vela::com::runtime::Serialized_payload& value);
    /// Part of offering: throws Infrastructure_exception naming the first field that has no value yet.
    void run_offer_cond_checks() const;

  private:
    Pport& m_port;
    // Guards m_has_value and m_getters: met by the thread that offers and the threads updating fields.
    mutable std::mutex m_mutex;
    std::map<std::uint16_t, bool> m_has_value;
    std::map<std::uint16_t, std::uint16_t> m_getters;
};

} // namespace kest::com::cpp_binding
