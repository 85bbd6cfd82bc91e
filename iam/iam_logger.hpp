#pragma once

#include "ara/log/logging.h"

namespace vela::iam
{

/// The daemon's one logging context ("IAM", "tarn1_iam"), created on first use.
ara::log::Logger& iam_logger();

} // namespace vela::iam
