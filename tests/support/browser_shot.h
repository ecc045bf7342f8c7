#pragma once

// Headless Chromium as a test's page reader: find the programs, take a
// screenshot of a page and read it back as a bitmap.

#include "core/imaging/bitmap.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace sw::test {

// The first candidate that exists: a path as given, a bare name on PATH.
inline std::string FindProgram(const std::vector<std::string>& candidates)
{
    for (const std::string& candidate : candidates) {
        if (candidate.find('/') != std::string::npos) {
            if (std::filesystem::exists(candidate))
                return candidate;
            continue;
        }
        const char* path = std::getenv("PATH");
        std::stringstream folders(path ? path : "");
        for (std::string folder; std::getline(folders, folder, ':');)
            if (!folder.empty() && std::filesystem::exists(std::filesystem::path(folder) / candidate))
                return (std::filesystem::path(folder) / candidate).string();
    }
    return {};
}

inline std::string QuotedForShell(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct TBrowser {
    std::string Chromium;
    std::string Convert; // ImageMagick's own, not a look-alike earlier on the path

    static TBrowser Find()
    {
        return { FindProgram({ "chromium", "chromium-browser" }),
            FindProgram({ "/usr/bin/convert", "convert" }) };
    }
    bool Usable() const { return !Chromium.empty() && !Convert.empty(); }

    // Renders url in a window of the given size (CSS pixels; the shot has
    // deviceScale times as many) and returns the shot. The files it makes
    // go to workFolder under name. The window should be well larger than
    // the page: small windows render only part of it.
    TBitmap Shoot(const std::string& url, int width, int height, const std::string& workFolder,
        const std::string& name, int deviceScale = 1) const
    {
        const std::string base = workFolder + "/" + name;
        const std::string shot = base + ".png";
        const std::string command = "timeout 120 " + QuotedForShell(Chromium)
            + " --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking"
              " --hide-scrollbars --force-device-scale-factor="
            + std::to_string(deviceScale) + " --user-data-dir=" + QuotedForShell(base + "-profile")
            + " --window-size=" + std::to_string(width) + "," + std::to_string(height)
            + " --screenshot=" + QuotedForShell(shot) + " " + QuotedForShell(url) + " >"
            + QuotedForShell(base + ".log") + " 2>&1 </dev/null";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(std::filesystem::exists(shot))
            << "chromium gave no screenshot (status " << status << "):\n"
            << ReadFileBytes(base + ".log");

        const std::string bmp = base + ".bmp";
        const std::string convert = QuotedForShell(Convert) + " " + QuotedForShell(shot)
            + " -alpha off BMP3:" + QuotedForShell(bmp) + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(convert.c_str()), 0);
        TBitmap screen;
        if (std::filesystem::exists(bmp))
            screen.LoadFromFile(bmp);
        return screen;
    }
};

} // namespace sw::test
