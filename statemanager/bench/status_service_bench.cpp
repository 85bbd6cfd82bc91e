// Measures the status service as statewarden_ctl meets it: the round trip of GetHolders with 100
// holders and of GetHistory with a full history (64 reports of 16 clients each), from a client
// process to the service in another process, over the middleware.
//
//   status_service_bench [calls]   (default 2000)
//
// The parent offers the service over a status board it fills; the child (this program started
// again with "client") calls it. Both use a discovery folder of their own.

#include "ara/log/logging.h"
#include "kest/com/cpp_binding/service_finder.h"
#include "kest/com/runtime/component_singleton.h"
#include "statemanager/proxy/state_management_proxies.hpp"
#include "statemanager/services/status_service.hpp"
#include "statemanager/states/state_ids.hpp"
#include "statemanager/status/status_board.hpp"
#include "testbed/support/child_process.hpp"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
namespace sm = vela::ap::statemanager;

template <typename Call> std::vector<double> measure(unsigned long calls, Call call)
{
    for (int warm_up = 0; warm_up < 100; ++warm_up)
    {
        call();
    }
    std::vector<double> micros;
    micros.reserve(calls);
    for (unsigned long index = 0; index < calls; ++index)
    {
        const auto start = Clock::now();
        call();
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    return micros;
}

void print(const char* what, const std::vector<double>& micros, std::size_t items)
{
    const auto at = [&micros](double share)
    { return micros[static_cast<std::size_t>(share * static_cast<double>(micros.size() - 1))]; };
    std::printf("%-40s p50 %8.1f us   p99 %8.1f us   max %8.1f us   (%zu calls, %zu in each reply)\n",
                what,
                at(0.5),
                at(0.99),
                micros.back(),
                micros.size(),
                items);
}

int client(unsigned long calls)
{
    kest::com::runtime::Component_singleton runtime(false, "bench client");
    kest::com::cpp_binding::Service_finder finder;
    std::vector<kest::com::cpp_binding::Service_handle> handles;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (handles.empty() && Clock::now() < deadline)
    {
        handles = finder.find_service(
            vela::com::runtime::Service_id(sm::StateManagementStatusInterface::service_identifier()),
            vela::com::runtime::Instance_id("Status"));
        if (handles.empty())
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (handles.empty())
    {
        std::fprintf(stderr, "status service not offered\n");
        return 1;
    }
    sm::proxy::StateManagementStatusInterfaceProxy proxy(handles.front());
    std::size_t holders_count = 0;
    std::size_t reports_count = 0;
    const auto holders = measure(calls, [&] { holders_count = proxy.GetHolders().get().holders.size(); });
    const auto history = measure(calls / 4 + 1, [&] { reports_count = proxy.GetHistory().get().size(); });
    print("GetHolders, 100 holders", holders, holders_count);
    print("GetHistory, 64 reports of 16 clients", history, reports_count);
    return 0;
}

/// 100 holders of the three kinds, and 64 reports of a standby round with 16 clients each.
void fill(sm::status::Status_board& board)
{
    for (int index = 0; index < 100; ++index)
    {
        const auto kind = static_cast<sm::status::Holder_kind>(index % 3);
        board.holder_changed(kind, "Application_instance_" + std::to_string(index), true, {1, 2, 0, 0}, 3);
    }
    for (std::uint64_t serial = 1; serial <= 64; ++serial)
    {
        std::vector<sm::status::Client_row> rows(16);
        for (std::size_t index = 0; index < rows.size(); ++index)
        {
            rows[index].name = "client_" + std::to_string(index);
            rows[index].answer = sm::status::Client_answer::state;
            rows[index].answered_state = "kPrepSD";
            rows[index].latency_ms = 12;
        }
        const auto now = Clock::now();
        board.step_completed(
            sm::status::Step_record{serial, sm::status::Client_group::apps, "kPrepSD", 0, now, now, rows});
        board.transition(sm::status::Transition_facts{
            sm::states::s_preparing, sm::states::s_prepared_sd, sm::virtio::Virtio_command::Non, now, now});
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::string(argv[1]) == "client")
    {
        return client(std::strtoul(argv[2], nullptr, 10));
    }
    const unsigned long calls = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000;
    if (calls == 0)
    {
        std::fprintf(stderr, "usage: %s [calls>0]\n", argv[0]);
        return 2;
    }
    char folder[] = "/tmp/status_service_bench.XXXXXX";
    if (::mkdtemp(folder) == nullptr)
    {
        std::perror("mkdtemp");
        return 1;
    }
    // NOLINTNEXTLINE(concurrency-mt-unsafe): no thread runs yet.
    ::setenv("TARN1_COM_DIR", folder, 1);
    // NOLINTNEXTLINE(concurrency-mt-unsafe): no thread runs yet.
    ::setenv("ARA_LOG_LEVEL", "warn", 1);
    const std::string count = std::to_string(calls);
    tarn1::testing::Child_options options;
    options.argv = {"/proc/self/exe", "client", count};
    // the client prints the measurements
    options.keep_output = true;
    tarn1::testing::Child_process client(std::move(options));

    int status = 1;
    {
        kest::com::runtime::Component_singleton runtime(false, "bench");
        ara::log::InitLogging(
            "BNCH", "status service bench", ara::log::LogLevel::kWarn, ara::log::LogMode::kConsole, "");
        const auto board = std::make_shared<sm::status::Status_board>(true);
        fill(*board);
        sm::services::Status_service service(board);
        service.OfferService();
        status = client.wait_for_exit(std::chrono::hours{1});
    }
    const std::string remove = std::string("rm -rf ") + folder;
    // NOLINTNEXTLINE(concurrency-mt-unsafe,cert-env33-c): the bench's own temporary folder.
    (void)std::system(remove.c_str());
    return status >= 0 && status < 128 ? status : 1;
}
