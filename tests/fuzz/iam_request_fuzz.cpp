// Fuzz target: the IAM daemon's request decoder on any text a session can hand it.
//
// The decoder reads the form clients write directly and leaves every other text to the
// Boost text input archive. Beyond what the sanitizers catch, an input is a finding when
// - the decoder and the archive alone disagree: one decodes what the other refuses, or both
//   decode it to different requests;
// - a decoded request, encoded again the way clients send it, does not decode to itself.
// A refused text is no finding: the session catches every exception and answers 2.

#include "tests/fuzz/fuzz_target.hpp"
#include "vela/iam/messages.hpp"

#include <memory>
#include <string_view>

namespace
{

using namespace vela::iam;
using tarn1::fuzz::finding;

/// The request a text decodes to, or nothing when the decoder throws (what the session catches).
template <typename Decoder> std::unique_ptr<Check_request> try_decode(Decoder decoder, std::string_view text)
{
    try
    {
        return decoder(text);
    }
    catch (const std::exception&)
    {
    }
    catch (...)
    {
    }
    return nullptr;
}

bool same_service(const iam_internal_if::Service_someip_ifc& a, const iam_internal_if::Service_someip_ifc& b)
{
    return a.service_id == b.service_id && a.member_id == b.member_id && a.operation == b.operation;
}

bool same_request(const Check_request& a, const Check_request& b)
{
    if (a.transport() != b.transport())
    {
        return false;
    }
    if (const auto* posix_a = dynamic_cast<const Check_requestT<Check_request_posix>*>(&a))
    {
        const auto* posix_b = dynamic_cast<const Check_requestT<Check_request_posix>*>(&b);
        if (posix_b == nullptr)
        {
            return false;
        }
        const auto& left = posix_a->wrapped();
        const auto& right = posix_b->wrapped();
        return left.identifier.pid == right.identifier.pid && left.identifier.uid == right.identifier.uid &&
               left.identifier.gid == right.identifier.gid && same_service(left.service, right.service);
    }
    const auto* tcpip_a = dynamic_cast<const Check_requestT<Check_request_tcpip>*>(&a);
    const auto* tcpip_b = dynamic_cast<const Check_requestT<Check_request_tcpip>*>(&b);
    if (tcpip_a == nullptr || tcpip_b == nullptr)
    {
        finding("a decoded request is of neither transport");
    }
    const auto& left = tcpip_a->wrapped();
    const auto& right = tcpip_b->wrapped();
    return left.identifier.port == right.identifier.port && left.identifier.address == right.identifier.address &&
           same_service(left.service, right.service);
}

std::string encode_again(const Check_request& request)
{
    if (const auto* posix = dynamic_cast<const Check_requestT<Check_request_posix>*>(&request))
    {
        return encode_request(*posix);
    }
    return encode_request(dynamic_cast<const Check_requestT<Check_request_tcpip>&>(request));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto decoded = try_decode(decode_request, text);
    const auto by_archive = try_decode(decode_request_with_archive, text);

    if ((decoded == nullptr) != (by_archive == nullptr))
    {
        finding(decoded ? "the decoder reads a text that the archive refuses"
                        : "the decoder refuses a text that the archive reads");
    }
    if (decoded == nullptr)
    {
        return 0;
    }
    if (!same_request(*decoded, *by_archive))
    {
        finding("the decoder and the archive decode a text to different requests");
    }
    const auto again = try_decode(decode_request, encode_again(*decoded));
    if (again == nullptr || !same_request(*decoded, *again))
    {
        finding("a decoded request does not survive being encoded and decoded again");
    }
    return 0;
}
