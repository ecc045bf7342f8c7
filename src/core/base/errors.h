#pragma once

// Every failure of the core is an exception derived from Exception, carrying
// the text the user sees. The desktop program shows it in one error box; the
// command line prints it.

#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

namespace sw {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message)
        : std::runtime_error(message)
    { }
};

#define SW_DECLARE_EXCEPTION(Name, Base)                                                                     \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        using Base::Base;                                                                                    \
    }

SW_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
SW_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
SW_DECLARE_EXCEPTION(EOutOfResources, Exception);
SW_DECLARE_EXCEPTION(GIFException, Exception);
SW_DECLARE_EXCEPTION(EJPEG, EInvalidGraphic);
SW_DECLARE_EXCEPTION(EStreamError, Exception);
SW_DECLARE_EXCEPTION(EFOpenError, EStreamError);
SW_DECLARE_EXCEPTION(EFCreateError, EStreamError);
SW_DECLARE_EXCEPTION(EReadError, EStreamError);
SW_DECLARE_EXCEPTION(EWriteError, EStreamError);
SW_DECLARE_EXCEPTION(EConvertError, Exception);
SW_DECLARE_EXCEPTION(EInOutError, Exception);
SW_DECLARE_EXCEPTION(EIniFileException, Exception);
// A cancelled operation: the silent failure a progress handler may raise.
SW_DECLARE_EXCEPTION(EAbort, Exception);

#undef SW_DECLARE_EXCEPTION

// printf-style formatting for message templates such as "Cannot open file %s".
template <typename... Args> std::string Format(const char* pattern, Args&&... args)
{
    const int size = std::snprintf(nullptr, 0, pattern, std::forward<Args>(args)...);
    if (size <= 0)
        return std::string();
    std::string out(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), pattern, std::forward<Args>(args)...);
    out.resize(static_cast<size_t>(size));
    return out;
}

// The message as shown to the user: a full stop is added unless the text is
// empty or already ends in a character that sorts at or before '.'.
std::string WithFullStop(const std::string& message);

// "MESSAGE (DETAIL)." with the full stop in place, since the parenthesis
// would keep WithFullStop from adding one.
std::string WithDetail(const std::string& message, const std::string& detail);

} // namespace sw
