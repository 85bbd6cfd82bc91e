#pragma once

#include "tools/simulator/vm_interface.hpp"

#include <gmock/gmock.h>

namespace tarn1::simulator::testing
{

class Mock_vm : public Vm_interface
{
  public:
    MOCK_METHOD(bool, set_config, (const std::string&, const std::string&, std::string&), (override));
    MOCK_METHOD(bool, set_hostname, (const std::string&, std::string&), (override));
    MOCK_METHOD(void, set_poweroff_reader, (bool), (override));
    MOCK_METHOD(void, set_iam_daemon, (bool), (override));
    MOCK_METHOD(void, set_access, (const std::string&), (override));
    MOCK_METHOD(bool, start, (std::string&), (override));
    MOCK_METHOD(bool, started, (), (const, override));
    MOCK_METHOD(bool, press, (const std::string&, std::string&), (override));
    MOCK_METHOD(bool, nm_offer, (std::string&), (override));
    MOCK_METHOD(void, nm_withdraw, (), (override));
    MOCK_METHOD(bool, network_state, (const std::vector<unsigned char>&, std::string&), (override));
    MOCK_METHOD(bool,
                app_call,
                (const std::string&, const std::string&, const std::vector<std::string>&, std::string&),
                (override));
    MOCK_METHOD(bool,
                app_call_as,
                (unsigned, const std::string&, const std::string&, const std::vector<std::string>&, std::string&),
                (override));
    MOCK_METHOD(void, client_add, (const std::string&, Client_mode, std::chrono::milliseconds), (override));
    MOCK_METHOD(bool,
                client_mode,
                (const std::string&, Client_mode, std::chrono::milliseconds, std::string&),
                (override));
    MOCK_METHOD(bool, client_remove, (const std::string&, std::string&), (override));
    MOCK_METHOD(bool, raw_client_add, (const std::string&, const std::string&, std::string&), (override));
    MOCK_METHOD(bool, iam_request, (const std::vector<std::string>&, std::string&), (override));
    MOCK_METHOD(bool, iam_burst, (std::size_t, const std::vector<std::string>&, std::string&), (override));
    MOCK_METHOD(bool, run_ctl, (const std::vector<std::string>&, int&, std::string&, std::string&), (override));
    MOCK_METHOD(bool, signal_statewarden, (int, std::string&), (override));
    MOCK_METHOD(void, stop, (), (override));
};

} // namespace tarn1::simulator::testing
