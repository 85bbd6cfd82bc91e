#pragma once

#include <exception>
#include <utility>

namespace kest::com::internal
{

/// An exception_ptr to a new E. Made by throwing, so no temporary shares the error's text with the
/// thread that later catches it (the text's reference count lives outside the sanitizers' view).
template <typename E, typename... A> std::exception_ptr make_error(A&&... arguments)
{
    try
    {
        throw E(std::forward<A>(arguments)...);
    }
    catch (...)
    {
        return std::current_exception();
    }
}

} // namespace kest::com::internal
