#pragma once

#include "kest/com/cpp_binding/field_handler.h"
#include "kest/com/cpp_binding/method_call_processing_mode.h"
#include "kest/com/cpp_binding/method_dispatcher.h"
#include "kest/com/cpp_binding/pport.h"
#include "vela/com/runtime/types.h"

#include <string>

namespace ara::com::internal::skeleton
{

/// Base of the generated skeletons. Interface supplies `static const char* service_identifier()` and
/// `static kest::com::connector::Service_interface_description description()`.
template <typename Interface> class Skeleton
{
  public:
    Skeleton(const vela::com::runtime::Instance_id& instance, kest::com::cpp_binding::Method_call_processing_mode mode)
        : m_instance(instance)
        , m_pport(vela::com::runtime::Service_id(Interface::service_identifier()), instance, Interface::description())
        , m_dispatcher(m_pport, mode)
        , m_fields(m_pport)
    {
    }
    Skeleton(const std::string& instance, kest::com::cpp_binding::Method_call_processing_mode mode)
        : Skeleton(vela::com::runtime::Instance_id(instance), mode)
    {
    }
    virtual ~Skeleton() { StopOfferService(); }

    Skeleton(const Skeleton&) = delete;
    Skeleton& operator=(const Skeleton&) = delete;

    /// Offer-condition checks, then the dispatcher, then the port. Throws what those throw.
    void OfferService()
    {
        m_fields.run_offer_cond_checks();
        m_dispatcher.start();
        m_pport.start_offer();
    }
    /// The port first, then the dispatcher: no call is taken once this returns.
    void StopOfferService()
    {
        m_pport.stop_offer();
        m_dispatcher.stop();
    }

    const vela::com::runtime::Instance_id& instance_id() const noexcept { return m_instance; }
    kest::com::cpp_binding::Pport& pport() noexcept { return m_pport; }
    kest::com::cpp_binding::Method_dispatcher& method_dispatcher() noexcept { return m_dispatcher; }
    kest::com::cpp_binding::Field_handler& field_handler() noexcept { return m_fields; }

  private:
    vela::com::runtime::Instance_id m_instance;
    kest::com::cpp_binding::Pport m_pport;
    kest::com::cpp_binding::Method_dispatcher m_dispatcher;
    kest::com::cpp_binding::Field_handler m_fields;
};

} // namespace ara::com::internal::skeleton
