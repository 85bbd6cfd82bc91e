#include "ara/log/testing/log_capture.h"
#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/config/state_manager_json_parser.hpp"
#include "testbed/support/temp_dir.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

namespace vela::ap::statemanager::config
{
namespace
{

using ara::log::LogLevel;
using nlohmann::json;

/// A file holding only the required keys.
json minimal_document()
{
    return json::parse(R"({
        "statewarden": {
            "KnockOutTimer": 5,
            "StateManagerNMUsage": false,
            "RequestNetworkOnEntryRunState": false,
            "StateManagerMainPeriod": 250,
            "ApplicationSuspendRequestTimeout": 11,
            "DMSuspendRequestTimeout": 12,
            "PMSuspendRequestTimeout": 13,
            "AliveSupervisionInstanceId": "SM/Alive",
            "DefautNMRequestPattern": [128, 4, 0],
            "MaxNumberOfApplicationsRequestAlive": 2,
            "ApplicationsRequestAliveConfig": [{"EcuAliveInterfaceInstance": "ecu_a"}],
            "MaxNumberOfApplicationsRequestNetwork": 2,
            "ApplicationsRequestNetworkConfig": [{"NetworkAliveInterfaceInstance": "com_a"},
                                                 {"NetworkAliveInterfaceInstance": "com_b"}],
            "MaxNumberOfCWURequest": 1,
            "CWURequestConfig": [{"CWUInterfaceInstance": "cwu_a"}]
        }
    })");
}

class State_manager_json_parser_test : public ::testing::Test
{
  protected:
    bool parse_text(const std::string& text)
    {
        return State_manager_json_parser::parse(m_dir.write_file("statewarden.json", text), m_config);
    }

    bool parse_document(const std::function<void(json& statewarden)>& change)
    {
        json document = minimal_document();
        change(document["statewarden"]);
        return parse_text(document.dump(4));
    }

    tarn1::testing::Temp_dir m_dir;
    State_manager_config m_config;
    ara::log::testing::Log_capture m_capture;
};

TEST_F(State_manager_json_parser_test, MinimalFileIsAcceptedAndOptionalBlocksKeepDefaults)
{
    const bool parsed = parse_document([](json&) {});

    ASSERT_TRUE(parsed);
    EXPECT_EQ(m_config.get_knockout_timer(), 5U);
    EXPECT_FALSE(m_config.is_nm_usage_allowed());
    EXPECT_FALSE(m_config.is_request_network_on_entry_run_state_requested());
    EXPECT_EQ(m_config.get_main_function_period(), 250U);
    EXPECT_EQ(m_config.get_app_timeout(), 11U);
    EXPECT_EQ(m_config.get_dm_timeout(), 12U);
    EXPECT_EQ(m_config.get_pm_timeout(), 13U);
    EXPECT_EQ(m_config.get_alive_supervision_instance_id(), "SM/Alive");
    EXPECT_EQ(m_config.get_smw_update_status_path(), "/sys/vmctl/set_status");
    EXPECT_EQ(m_config.get_smw_restart_command_path(), "/sys/vmctl/command_request");
    const Nm_user_data_config layout = m_config.get_nm_user_data_config();
    EXPECT_EQ(layout.user_data_bytes, 6U);
    EXPECT_EQ(layout.cwu_bit_position, 6U);
    EXPECT_EQ(layout.acbits_offset, 1U);
    EXPECT_EQ(layout.acbits_bytes, 2U);
    EXPECT_EQ(layout.cabbits_offset, 3U);
    EXPECT_EQ(layout.cabbits_bytes, 3U);
    EXPECT_EQ(layout.max_cab_size_bits, 24U);
    EXPECT_FALSE(layout.cab_bits_enabled);
    EXPECT_EQ(m_config.get_nm_request_pattern(), (std::vector<std::uint8_t>{0x80, 0x04, 0x00}));
    EXPECT_EQ(m_config.get_apps_ecualive(), std::vector<std::string>{"ecu_a"});
    EXPECT_EQ(m_config.get_apps_comalive(), (std::vector<std::string>{"com_a", "com_b"}));
    EXPECT_EQ(m_config.get_apps_cwu(), std::vector<std::string>{"cwu_a"});
    EXPECT_EQ(m_capture.count("State_manager_json_parser:SharedMemoryConfig  not set in configuration file!",
                              LogLevel::kDebug),
              1U);
    EXPECT_EQ(
        m_capture.count("State_manager_json_parser:NmUserDataConfig  not set in configuration file!", LogLevel::kDebug),
        1U);
    EXPECT_EQ(
        m_capture.count("State_manager_json_parser: Get StateManagerMainPeriod form configuration with value: 250",
                        LogLevel::kVerbose),
        1U);
}

TEST_F(State_manager_json_parser_test, OptionalBlocksOverrideTheDefaults)
{
    const bool parsed = parse_document(
        [](json& statewarden)
        {
            statewarden["SharedMemoryConfig"] = {{"UpdateStatusFile", "/tmp/status"},
                                                 {"RestartCommandFile", "/tmp/cmd"}};
            statewarden["NmUserDataConfig"] = {
                {"UserDataBytes", 8}, {"CABBytes", 4}, {"MaxCABSizeBits", 32}, {"CabBitsEnabled", true}};
        });

    ASSERT_TRUE(parsed);
    EXPECT_EQ(m_config.get_smw_update_status_path(), "/tmp/status");
    EXPECT_EQ(m_config.get_smw_restart_command_path(), "/tmp/cmd");
    const Nm_user_data_config layout = m_config.get_nm_user_data_config();
    EXPECT_EQ(layout.user_data_bytes, 8U);
    EXPECT_EQ(layout.cabbits_bytes, 4U);
    EXPECT_EQ(layout.max_cab_size_bits, 32U);
    EXPECT_TRUE(layout.cab_bits_enabled);
    EXPECT_EQ(layout.acbits_offset, 1U);
}

TEST_F(State_manager_json_parser_test, MissingFileIsReportedWithItsPath)
{
    const std::string path = m_dir.file("absent.json");

    const bool parsed = State_manager_json_parser::parse(path, m_config);

    EXPECT_FALSE(parsed);
    EXPECT_EQ(m_capture.count("Configuration file could NOT be opened! Path: " + path + "!", LogLevel::kFatal), 1U);
    EXPECT_EQ(m_capture.count("Parsing configuration file:" + path, LogLevel::kInfo), 1U);
}

/// A file the parser refuses, and the log line that says why.
struct Refusal_case
{
    const char* label;
    std::function<void(json&)> change;
    std::string expected_fragment;
    LogLevel level;
};

void PrintTo(const Refusal_case& value, std::ostream* os)
{
    *os << value.label;
}

class State_manager_json_parser_refusal_test : public State_manager_json_parser_test,
                                               public ::testing::WithParamInterface<Refusal_case>
{
};

TEST_P(State_manager_json_parser_refusal_test, FileIsRefusedWithItsReason)
{
    const bool parsed = parse_document(GetParam().change);

    EXPECT_FALSE(parsed);
    bool found = false;
    for (const std::string& text : m_capture.texts(GetParam().level))
    {
        found = found || text.find(GetParam().expected_fragment) != std::string::npos;
    }
    EXPECT_TRUE(found) << "no message at the expected level containing: " << GetParam().expected_fragment;
}

std::function<void(json&)> erase(const char* key)
{
    return [key](json& statewarden) { statewarden.erase(key); };
}

std::function<void(json&)> replace(const char* key, json value)
{
    return [key, value](json& statewarden) { statewarden[key] = value; };
}

const std::string missing_prefix = "State_manager_json_parser:Missing ";
const std::string wrong_type = "State_manager_json_parser:Incorrect key type: ";
const std::string bad_layout = "State_manager_json_parser:Inncorect configuration of NmUserDataConfig!";

INSTANTIATE_TEST_SUITE_P(
    FailureTable,
    State_manager_json_parser_refusal_test,
    ::testing::Values(
        Refusal_case{"MissingKnockOutTimer",
                     erase("KnockOutTimer"),
                     missing_prefix + "KnockOutTimerin configuration.caused by",
                     LogLevel::kInfo},
        Refusal_case{"MissingSupervisionInstance",
                     erase("AliveSupervisionInstanceId"),
                     missing_prefix + "AliveSupervisionInstanceIdin configuration.",
                     LogLevel::kInfo},
        Refusal_case{
            "MissingMaxCwu", erase("MaxNumberOfCWURequest"), missing_prefix + "MaxNumberOfCWURequest", LogLevel::kInfo},
        Refusal_case{"PatternKeySpelledWithL",
                     [](json& statewarden)
                     {
                         statewarden["DefaultNMRequestPattern"] = statewarden["DefautNMRequestPattern"];
                         statewarden.erase("DefautNMRequestPattern");
                     },
                     missing_prefix + "DefautNMRequestPatternin configuration.",
                     LogLevel::kInfo},
        Refusal_case{"StringForNumber", replace("KnockOutTimer", "3"), wrong_type, LogLevel::kDebug},
        Refusal_case{"NumberForBoolean", replace("StateManagerNMUsage", 1), wrong_type, LogLevel::kDebug},
        Refusal_case{"NumberForString", replace("AliveSupervisionInstanceId", 7), wrong_type, LogLevel::kDebug},
        Refusal_case{"StringForPattern", replace("DefautNMRequestPattern", "00 01"), wrong_type, LogLevel::kDebug},
        Refusal_case{
            "StringInPattern", replace("DefautNMRequestPattern", json::array({1, "2"})), wrong_type, LogLevel::kDebug},
        Refusal_case{"NegativeNumber", replace("KnockOutTimer", -1), wrong_type, LogLevel::kDebug},
        Refusal_case{
            "NumberAbove32Bits", replace("StateManagerMainPeriod", 4294967296ULL), wrong_type, LogLevel::kDebug},
        Refusal_case{"HugeFraction", replace("PMSuspendRequestTimeout", 1e20), wrong_type, LogLevel::kDebug},
        Refusal_case{"NegativeFraction", replace("DMSuspendRequestTimeout", -0.5), wrong_type, LogLevel::kDebug},
        Refusal_case{"PatternByteAbove255",
                     replace("DefautNMRequestPattern", json::array({1, 256})),
                     wrong_type,
                     LogLevel::kDebug},
        Refusal_case{
            "NegativePatternByte", replace("DefautNMRequestPattern", json::array({-1})), wrong_type, LogLevel::kDebug},
        Refusal_case{
            "HugePatternByte", replace("DefautNMRequestPattern", json::array({1e300})), wrong_type, LogLevel::kDebug},
        Refusal_case{"NullForNumber", replace("StateManagerMainPeriod", nullptr), wrong_type, LogLevel::kDebug},
        Refusal_case{"SharedMemoryWithoutRestartFile",
                     replace("SharedMemoryConfig", {{"UpdateStatusFile", "/tmp/s"}}),
                     missing_prefix + "RestartCommandFilein configuration.",
                     LogLevel::kInfo},
        Refusal_case{"SharedMemoryPathNotString",
                     replace("SharedMemoryConfig", {{"UpdateStatusFile", 1}, {"RestartCommandFile", "/tmp/c"}}),
                     wrong_type,
                     LogLevel::kDebug},
        Refusal_case{
            "CabSizeAboveNarrowedField", replace("NmUserDataConfig", {{"CABBytes", 2}}), bad_layout, LogLevel::kDebug},
        Refusal_case{"AcFieldIntoCabField",
                     replace("NmUserDataConfig", {{"ACOffset", 1}, {"ACBytes", 3}}),
                     bad_layout,
                     LogLevel::kDebug},
        Refusal_case{"NoUserDataBytes",
                     replace("NmUserDataConfig",
                             {{"UserDataBytes", 0},
                              {"CWUBitPosition", 0},
                              {"ACOffset", 0},
                              {"ACBytes", 0},
                              {"CABOffset", 0},
                              {"CABBytes", 0},
                              {"MaxCABSizeBits", 0}}),
                     bad_layout,
                     LogLevel::kDebug},
        Refusal_case{"CwuBitOutsideUserData",
                     replace("NmUserDataConfig", {{"CWUBitPosition", 48}}),
                     bad_layout,
                     LogLevel::kDebug},
        Refusal_case{"AcOffsetWrapsAround",
                     replace("NmUserDataConfig", {{"ACOffset", 4294967295U}, {"ACBytes", 2}}),
                     bad_layout,
                     LogLevel::kDebug},
        Refusal_case{"EmptyNetworkList",
                     replace("ApplicationsRequestNetworkConfig", json::array()),
                     "State_manager_json_parser:ApplicationsRequestNetworkConfig not set in configuration file!",
                     LogLevel::kDebug},
        Refusal_case{"MissingAliveList",
                     erase("ApplicationsRequestAliveConfig"),
                     "State_manager_json_parser:ApplicationsRequestAliveConfig not set in configuration file!",
                     LogLevel::kDebug},
        Refusal_case{"NullCwuList",
                     replace("CWURequestConfig", nullptr),
                     "State_manager_json_parser:CWURequestConfig not set in configuration file!",
                     LogLevel::kDebug}),
    [](const ::testing::TestParamInfo<Refusal_case>& param) { return std::string{param.param.label}; });

/// A document that is not a usable configuration at all.
struct Document_case
{
    const char* label;
    std::string text;
    bool fatal_parse_error;
};

void PrintTo(const Document_case& value, std::ostream* os)
{
    *os << value.label;
}

class State_manager_json_parser_document_test : public State_manager_json_parser_test,
                                                public ::testing::WithParamInterface<Document_case>
{
};

TEST_P(State_manager_json_parser_document_test, DocumentIsRefused)
{
    const bool parsed = parse_text(GetParam().text);

    EXPECT_FALSE(parsed);
    EXPECT_EQ(m_capture.contains_fragment("Failed to parse configuration: "), GetParam().fatal_parse_error);
}

INSTANTIATE_TEST_SUITE_P(
    Documents,
    State_manager_json_parser_document_test,
    ::testing::Values(Document_case{"EmptyFile", "", true},
                      Document_case{"BrokenSyntax", R"({"statewarden": {)", true},
                      Document_case{"TextAfterTheDocument", minimal_document().dump() + " trailing", true},
                      Document_case{"SecondDocument", minimal_document().dump() + " {}", true},
                      Document_case{"NullDocument", "null", false},
                      Document_case{"EmptyObject", "{}", false},
                      Document_case{"EmptyArray", "[]", false},
                      Document_case{"NoStatewardenMember", R"({"other": 1})", false},
                      Document_case{"EmptyStatewarden", R"({"statewarden": {}})", false},
                      Document_case{"ArrayAtTopLevel", "[1, 2]", true}),
    [](const ::testing::TestParamInfo<Document_case>& param) { return std::string{param.param.label}; });

/// A file of valid keys with one more member nested this many levels deep in all (the document's
/// own object is the first level, "statewarden" the second).
std::string nested_document(int levels)
{
    json document = minimal_document();
    document["statewarden"]["Nested"] = "@";
    const int arrays = levels - 2;
    std::string text = document.dump();
    text.replace(text.find("\"@\""),
                 3,
                 std::string(static_cast<std::size_t>(arrays), '[') +
                     std::string(static_cast<std::size_t>(arrays), ']'));
    return text;
}

struct Nesting_case
{
    const char* label;
    int levels;
    bool accepted;
};

void PrintTo(const Nesting_case& value, std::ostream* os)
{
    *os << value.label;
}

class State_manager_json_parser_nesting_test : public State_manager_json_parser_test,
                                               public ::testing::WithParamInterface<Nesting_case>
{
};

TEST_P(State_manager_json_parser_nesting_test, NestingBeyondTheBoundIsIllFormatted)
{
    const bool parsed = parse_text(nested_document(GetParam().levels));

    EXPECT_EQ(parsed, GetParam().accepted);
    EXPECT_EQ(m_capture.count("Failed to parse configuration: objects and arrays nested deeper than 64 levels!",
                              LogLevel::kFatal),
              GetParam().accepted ? 0U : 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Depths,
    State_manager_json_parser_nesting_test,
    ::testing::Values(Nesting_case{"AtTheBound", State_manager_json_parser::s_max_nesting_depth, true},
                      Nesting_case{"OneBeyond", State_manager_json_parser::s_max_nesting_depth + 1, false},
                      // deep enough to overflow the stack of a recursive copy
                      Nesting_case{"HundredThousandLevels", 100000, false}),
    [](const ::testing::TestParamInfo<Nesting_case>& param) { return std::string{param.param.label}; });

TEST_F(State_manager_json_parser_test, MissingStatewardenMemberIsLogged)
{
    const bool parsed = parse_text(R"({"other": 1})");

    EXPECT_FALSE(parsed);
    EXPECT_TRUE(m_capture.contains_fragment("State_manager_json_parser:Missing statewardenin configuration."));
}

TEST_F(State_manager_json_parser_test, WhitespaceAfterTheDocumentIsAccepted)
{
    EXPECT_TRUE(parse_text(minimal_document().dump() + "\n\n  \t\n"));
}

TEST_F(State_manager_json_parser_test, BooleanGivenForNumberIsTakenAsZeroOrOne)
{
    const bool parsed = parse_document(replace("KnockOutTimer", true));

    ASSERT_TRUE(parsed);
    EXPECT_EQ(m_config.get_knockout_timer(), 1U);
}

TEST_F(State_manager_json_parser_test, NumbersAtTheEdgesOfTheirRangeAreAccepted)
{
    const bool parsed = parse_document(
        [](json& statewarden)
        {
            statewarden["StateManagerMainPeriod"] = 4294967295U;
            statewarden["KnockOutTimer"] = 0;
            statewarden["PMSuspendRequestTimeout"] = 2.9;
            statewarden["DefautNMRequestPattern"] = json::array({0, 255, false});
        });

    ASSERT_TRUE(parsed);
    EXPECT_EQ(m_config.get_main_function_period(), 4294967295U);
    EXPECT_EQ(m_config.get_knockout_timer(), 0U);
    EXPECT_EQ(m_config.get_pm_timeout(), 2U);
    EXPECT_EQ(m_config.get_nm_request_pattern(), (std::vector<std::uint8_t>{0, 255, 0}));
}

TEST_F(State_manager_json_parser_test, LayoutNumberOutOfRangeKeepsItsDefault)
{
    const bool parsed = parse_document(replace("NmUserDataConfig", {{"UserDataBytes", -6}}));

    ASSERT_TRUE(parsed);
    EXPECT_EQ(m_config.get_nm_user_data_config().user_data_bytes, 6U);
}

TEST_F(State_manager_json_parser_test, EmptyPatternIsAccepted)
{
    m_config.set_nm_request_pattern({1, 2});

    const bool parsed = parse_document(replace("DefautNMRequestPattern", json::array()));

    ASSERT_TRUE(parsed);
    EXPECT_TRUE(m_config.get_nm_request_pattern().empty());
}

TEST_F(State_manager_json_parser_test, NamesBeyondTheMaximumAreDroppedWithOneWarningEach)
{
    const bool parsed = parse_document(
        [](json& statewarden)
        {
            statewarden["CWURequestConfig"] =
                json::array({{{"CWUInterfaceInstance", "first"}}, {{"CWUInterfaceInstance", "second"}}});
            statewarden["MaxNumberOfApplicationsRequestAlive"] = 0;
            statewarden["ApplicationsRequestAliveConfig"] =
                json::array({{{"EcuAliveInterfaceInstance", "x"}}, {{"EcuAliveInterfaceInstance", "y"}}});
        });

    ASSERT_TRUE(parsed);
    EXPECT_EQ(m_config.get_apps_cwu(), std::vector<std::string>{"first"});
    EXPECT_TRUE(m_config.get_apps_ecualive().empty());
    EXPECT_EQ(m_capture.count("State_manager_json_parser:MaxNumberOfCWURequest exceeded! Interface not added!",
                              LogLevel::kWarn),
              1U);
    EXPECT_EQ(
        m_capture.count("State_manager_json_parser:MaxNumberOfApplicationsRequestAlive exceeded! Interface not added!",
                        LogLevel::kWarn),
        2U);
}

TEST_F(State_manager_json_parser_test, UnusableListElementsAreSkipped)
{
    const bool parsed = parse_document(
        [](json& statewarden)
        {
            statewarden["MaxNumberOfApplicationsRequestNetwork"] = 5;
            statewarden["ApplicationsRequestNetworkConfig"] =
                json::array({{{"WrongKey", "a"}},
                             {{"NetworkAliveInterfaceInstance", 3}},
                             "not an object",
                             {{"NetworkAliveInterfaceInstance", "kept"}}});
        });

    ASSERT_TRUE(parsed);
    EXPECT_EQ(m_config.get_apps_comalive(), std::vector<std::string>{"kept"});
    EXPECT_EQ(m_capture.texts(LogLevel::kDebug).size() >= 2U, true);
    EXPECT_TRUE(m_capture.contains_fragment(missing_prefix + "NetworkAliveInterfaceInstancein configuration."));
}

TEST_F(State_manager_json_parser_test, ObjectInPlaceOfListIsWalkedInKeyOrder)
{
    const bool parsed = parse_document(replace(
        "ApplicationsRequestNetworkConfig",
        {{"b", {{"NetworkAliveInterfaceInstance", "second"}}}, {"a", {{"NetworkAliveInterfaceInstance", "first"}}}}));

    ASSERT_TRUE(parsed);
    EXPECT_EQ(m_config.get_apps_comalive(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(State_manager_json_parser_test, LayoutKeysOfWrongTypeKeepTheirDefaults)
{
    const bool parsed = parse_document(replace("NmUserDataConfig", {{"CABBytes", "four"}, {"CabBitsEnabled", true}}));

    ASSERT_TRUE(parsed);
    EXPECT_EQ(m_config.get_nm_user_data_config().cabbits_bytes, 3U);
    EXPECT_TRUE(m_config.get_nm_user_data_config().cab_bits_enabled);
}

TEST_F(State_manager_json_parser_test, ReadingStopsAtTheFirstFailingKey)
{
    const bool parsed = parse_document(erase("StateManagerMainPeriod"));

    EXPECT_FALSE(parsed);
    EXPECT_EQ(m_config.get_knockout_timer(), 5U);
    EXPECT_EQ(m_config.get_app_timeout(), 60U);
    EXPECT_FALSE(m_capture.contains_fragment("ApplicationSuspendRequestTimeout"));
}

TEST_F(State_manager_json_parser_test, ShippedExampleIsAccepted)
{
    const bool parsed = State_manager_json_parser::parse(TARN1_EXAMPLE_CONFIG, m_config);

    EXPECT_TRUE(parsed);
    EXPECT_FALSE(m_capture.contains_fragment("exceeded"));
}

} // namespace
} // namespace vela::ap::statemanager::config
