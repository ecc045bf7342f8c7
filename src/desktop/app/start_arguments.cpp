#include "desktop/app/start_arguments.h"

#include "version_info.h"

namespace sw {

TStartRequest ReadStartArguments(const std::vector<std::string>& arguments)
{
    TStartRequest request;
    bool options = true;
    for (const std::string& argument : arguments) {
        if (options && argument == "--") {
            options = false;
            continue;
        }
        if (options && (argument == "--help" || argument == "-h"))
            return TStartRequest { TStartRequest::TKind::Help, {} };
        if (options && argument == "--version")
            return TStartRequest { TStartRequest::TKind::Version, {} };
        request.Files.push_back(argument);
    }
    return request;
}

std::string StartUsageText()
{
    return "Usage: slicewright [FILE]\n"
           "Cut a picture of a page design into cells and write a page that puts them together.\n"
           "\n"
           "  FILE        a project (.swr) or a picture to open\n"
           "  --help      shows this text\n"
           "  --version   shows the program's version\n"
           "\n"
           "Without a display, use slicewright-cli.\n";
}

std::string VersionText()
{
    return std::string("slicewright ") + SLICEWRIGHT_VERSION + "\n";
}

} // namespace sw
