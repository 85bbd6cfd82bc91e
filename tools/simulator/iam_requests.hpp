#pragma once

#include "tools/simulator/journal.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace tarn1::simulator
{

/// One access check through the IAM client tool (program) with arguments; the journal gets "iam
/// allowed|denied|error|failed (no answer)". False only when the tool cannot be started. Runner
/// thread.
bool iam_request(Journal& journal,
                 const std::string& program,
                 const std::vector<std::string>& arguments,
                 std::string& error);

/// count access checks at once, each over its own connection; the journal gets
/// "iam burst <count>: <a> allowed, <d> denied, <e> error, <f> failed". Runner thread.
bool iam_burst(Journal& journal,
               const std::string& program,
               std::size_t count,
               const std::vector<std::string>& arguments,
               std::string& error);

} // namespace tarn1::simulator
