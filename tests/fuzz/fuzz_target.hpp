#pragma once

#include <cstddef>
#include <cstdint>

/// Runs one input through a target. libFuzzer calls it with each input it makes; the corpus
/// replay with each file of the target's corpus. A broken property aborts (finding()).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

/// Called once before the first input: silences logging, which would otherwise cost more than
/// the decoding. ARA_LOG_LEVEL still applies, to look at what one input does.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace tarn1::fuzz
{

/// Reports a property of the decoder that an input broke and aborts, so that libFuzzer keeps
/// the input and the corpus replay fails.
[[noreturn]] void finding(const char* what);

/// Sizes of the pieces in which a stream reaches a reader, drawn from one seed byte: seed 0
/// gives single bytes, larger seeds pieces of up to seed + 1 bytes in a fixed pseudo-random
/// order, so that every way of splitting a frame is reachable.
class Piece_sizes
{
  public:
    explicit Piece_sizes(std::uint8_t seed)
        : m_limit(std::uint32_t{seed} + 1U)
        , m_state(std::uint32_t{seed} * 2654435761U + 1U)
    {
    }

    std::size_t next() noexcept
    {
        m_state = m_state * 1664525U + 1013904223U;
        return 1U + (m_state >> 8U) % m_limit;
    }

  private:
    std::uint32_t m_limit;
    std::uint32_t m_state;
};

} // namespace tarn1::fuzz
