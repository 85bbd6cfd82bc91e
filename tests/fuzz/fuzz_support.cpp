#include "ara/log/logging.h"
#include "tests/fuzz/fuzz_target.hpp"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    ara::log::InitLogging("FUZZ", "fuzz target", ara::log::LogLevel::kOff, ara::log::LogMode::kConsole, "");
    return 0;
}

namespace tarn1::fuzz
{

void finding(const char* what)
{
    std::fprintf(stderr, "fuzz finding: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

} // namespace tarn1::fuzz
