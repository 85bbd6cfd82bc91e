#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace tarn1::testing
{

/// What a forked child left behind.
struct Child_result
{
    int exit_status{-1};
    std::string out;
    std::string err;
    std::chrono::milliseconds lifetime{0};
    /// When the child was seen to end (steady clock).
    std::chrono::steady_clock::time_point finished{};
};

/// Runs body in a forked child with its standard output and error captured through pipes;
/// the child exits with body's result. Waits at most timeout, then kills the child.
Child_result run_in_child(const std::function<int()>& body, std::chrono::milliseconds timeout);

} // namespace tarn1::testing
