#pragma once

#include "kest/com/someip/message_header.h"

#include <memory>

namespace kest::com::internal
{
class Connection;
}

namespace kest::com::cpp_binding
{

/// Where the reply to one incoming call goes; copyable, valid after the skeleton is gone.
struct Reply_token
{
    std::weak_ptr<internal::Connection> connection;
    someip::Message_header request;
};

} // namespace kest::com::cpp_binding
