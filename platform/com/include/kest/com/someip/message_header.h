#pragma once

#include <cstddef>
#include <cstdint>

namespace kest::com::someip
{

constexpr std::size_t kHeader_size = 16;
/// Bytes counted by the length field before the payload (request id, versions, type, code).
constexpr std::uint32_t kLength_offset = 8;
constexpr std::uint8_t kProtocol_version = 1;
/// The largest payload a peer may send; a bigger frame closes the connection.
constexpr std::uint32_t kMax_payload = 1024U * 1024U;
/// Method-id field of a notification: the event id with the top bit set.
constexpr std::uint16_t kEvent_flag = 0x8000;

enum class Message_type : std::uint8_t
{
    kRequest = 0x00,
    kRequestNoReturn = 0x01,
    kNotification = 0x02,
    kResponse = 0x80,
    kError = 0x81,
    // This middleware's own subscription messages (method-id field = event id).
    kSubscribe = 0xF0,
    kSubscribeAck = 0xF1,
    kUnsubscribe = 0xF2,
};

namespace return_code
{
constexpr std::uint8_t kOk = 0x00;
constexpr std::uint8_t kNotOk = 0x01;
constexpr std::uint8_t kUnknownService = 0x02;
constexpr std::uint8_t kUnknownMethod = 0x03;
constexpr std::uint8_t kNotReady = 0x04;
constexpr std::uint8_t kWrongInterfaceVersion = 0x08;
/// Access control refused the request or subscription.
constexpr std::uint8_t kAccessDenied = 0x20;
/// Answer of the generated skeletons to a request whose arguments cannot be decoded.
constexpr std::uint8_t kDecodingFailed = 0x80;
} // namespace return_code

/// The 16-byte header in front of every message, all fields big-endian.
struct Message_header
{
    std::uint16_t service_id{0};
    std::uint16_t method_id{0};
    /// Bytes after this field: 8 + payload size.
    std::uint32_t length{kLength_offset};
    std::uint16_t client_id{0};
    std::uint16_t session_id{0};
    std::uint8_t protocol_version{kProtocol_version};
    std::uint8_t interface_version{1};
    Message_type message_type{Message_type::kRequest};
    std::uint8_t return_code{return_code::kOk};

    std::uint32_t payload_size() const noexcept { return length - kLength_offset; }
};

enum class Header_check
{
    kOk,
    kWrongProtocolVersion,
    kLengthTooSmall,
    kPayloadTooLarge,
    kUnknownMessageType,
};

void encode_header(const Message_header& header, std::uint8_t* out);
Message_header decode_header(const std::uint8_t* in);
/// Whether a received header may be accepted; anything but kOk closes the connection.
Header_check check_header(const Message_header& header, std::uint32_t max_payload = kMax_payload);
const char* to_string(Header_check check);

} // namespace kest::com::someip
