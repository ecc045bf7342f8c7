#include "desktop/shell/handler_guard.h"

#include "core/base/errors.h"
#include "desktop/shell/file_names.h"
#include "desktop/shell/platform_services.h"

namespace sw {

void ShowException(const std::exception& error)
{
    // Core messages quote file names as they are on disk.
    Services().ShowError(FileNameFromCore(WithFullStop(error.what())));
}

} // namespace sw
