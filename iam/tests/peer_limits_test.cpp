#include "iam/peer_limits.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <vector>

namespace vela::iam
{
namespace
{

struct Descriptor_case
{
    const char* name;
    std::uint64_t descriptor_limit;
    std::size_t sessions;
    std::size_t sessions_per_uid;
};

class Peer_limits_test : public ::testing::TestWithParam<Descriptor_case>
{
};

TEST_P(Peer_limits_test, SessionsLeaveTheReserveAndNoUidTakesThemAll)
{
    const Peer_limits sut = peer_limits_for(GetParam().descriptor_limit);

    EXPECT_EQ(sut.sessions, GetParam().sessions);
    EXPECT_EQ(sut.sessions_per_uid, GetParam().sessions_per_uid);
}

INSTANTIATE_TEST_SUITE_P(
    Table,
    Peer_limits_test,
    ::testing::Values(Descriptor_case{"BarelyAboveTheReserve", 34, 2, 1},
                      Descriptor_case{"NotEvenTheReserve", 16, 1, 1},
                      Descriptor_case{"Low", 64, 32, 16},
                      Descriptor_case{"Usual", 1024, 992, 64},
                      Descriptor_case{"High", 1'000'000, max_sessions, 64},
                      Descriptor_case{"Unlimited", std::numeric_limits<std::uint64_t>::max(), max_sessions, 64}),
    [](const ::testing::TestParamInfo<Descriptor_case>& param) { return param.param.name; });

using Verdict = Session_admission::Verdict;

struct Admission_step
{
    enum
    {
        admit,
        release,
    } action;
    std::uint32_t uid;
    Verdict verdict;
};

struct Admission_case
{
    const char* name;
    std::vector<Admission_step> steps;
};

class Session_admission_test : public ::testing::TestWithParam<Admission_case>
{
};

TEST_P(Session_admission_test, VerdictsFollowTheTable)
{
    // three sessions in all, two per uid
    Session_admission sut(Peer_limits{3, 2});

    for (std::size_t index = 0; index < GetParam().steps.size(); ++index)
    {
        const Admission_step& step = GetParam().steps[index];
        if (step.action == Admission_step::release)
        {
            sut.release(step.uid);
            continue;
        }
        EXPECT_EQ(sut.admit(step.uid), step.verdict) << "step " << index;
    }
}

constexpr auto admit = Admission_step::admit;
constexpr auto release = Admission_step::release;
constexpr Verdict admitted = Verdict::admitted;
constexpr Verdict all_taken = Verdict::all_sessions_taken;
constexpr Verdict uid_taken = Verdict::uid_sessions_taken;

INSTANTIATE_TEST_SUITE_P(Table,
                         Session_admission_test,
                         ::testing::Values(Admission_case{"RootIsBoundOnlyInAll",
                                                          {{admit, 0, admitted},
                                                           {admit, 0, admitted},
                                                           {admit, 0, admitted},
                                                           {admit, 0, all_taken}}},
                                           Admission_case{"ReleasedPlaceIsTakenAgain",
                                                          {{admit, 1000, admitted},
                                                           {admit, 1000, admitted},
                                                           {release, 1000, admitted},
                                                           {admit, 1000, admitted},
                                                           {admit, 1000, uid_taken}}},
                                           Admission_case{"ReleaseOfAnUnknownUidGivesNothingBack",
                                                          {{admit, 1000, admitted},
                                                           {admit, 1001, admitted},
                                                           {admit, 1002, admitted},
                                                           {release, 4242, admitted},
                                                           {admit, 1003, all_taken}}}),
                         [](const ::testing::TestParamInfo<Admission_case>& param) { return param.param.name; });

TEST(Session_place_test, PlaceIsGivenBackOnceWhenItsLastOwnerGoes)
{
    auto admission = std::make_shared<Session_admission>(Peer_limits{1, 1});
    ASSERT_EQ(admission->admit(1000), admitted);

    {
        Session_place first(admission, 1000);
        Session_place moved(std::move(first));
        Session_place assigned;
        assigned = std::move(moved);
        EXPECT_EQ(admission->open_sessions(), 1U);
    }

    EXPECT_EQ(admission->open_sessions(), 0U);
    EXPECT_EQ(admission->admit(1000), admitted);
}

} // namespace
} // namespace vela::iam
