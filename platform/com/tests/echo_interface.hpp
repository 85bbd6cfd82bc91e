#pragma once

#include "kest/com/connector/service_interface_description.h"

namespace tarn1::testing
{

/// The service the middleware tests offer and call: see com_test_peer.cpp.
struct EchoInterface
{
    static const char* service_identifier() { return "tarn1::test::Echo"; }
    static kest::com::connector::Service_interface_description description() { return {service_identifier(), 1, 4}; }
};

} // namespace tarn1::testing
