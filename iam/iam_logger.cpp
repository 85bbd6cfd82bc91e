#include "iam/iam_logger.hpp"

namespace vela::iam
{

ara::log::Logger& iam_logger()
{
    static ara::log::Logger& logger = ara::log::CreateLogger("IAM", "tarn1_iam");
    return logger;
}

} // namespace vela::iam
