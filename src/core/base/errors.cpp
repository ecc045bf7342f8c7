#include "core/base/errors.h"

namespace sw {

std::string WithFullStop(const std::string& message)
{
    if (message.empty() || static_cast<unsigned char>(message.back()) <= '.')
        return message;
    return message + '.';
}

std::string WithDetail(const std::string& message, const std::string& detail)
{
    return message + " (" + detail + ").";
}

} // namespace sw
