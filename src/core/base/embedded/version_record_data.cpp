// The version record both programs carry, read back by GetVersionString from
// the executable file. It is linked into each executable directly (not through
// a static library, whose unreferenced members the linker would drop), and
// kept in a section of its own so that it survives optimisation unreferenced.

#include "core/base/version_record.h"
#include "version_info.h"

namespace {

#define SW_STRING_TABLE "\\StringFileInfo\\040904E4\\"

// U.S. English (0x0409) with the Western code page (0x04E4), little-endian.
constexpr std::string_view kTranslation { "\x09\x04\xE4\x04", 4 };

constexpr std::array<sw::VersionRecordEntry, 9> kEntries = { {
    { "\\VarFileInfo\\Translation", kTranslation, false },
    { SW_STRING_TABLE "CompanyName", "The Slicewright developers" },
    { SW_STRING_TABLE "FileDescription", "Slicewright, cuts a page design into a table of web images" },
    { SW_STRING_TABLE "FileVersion", SLICEWRIGHT_VERSION },
    { SW_STRING_TABLE "InternalName", "slicewright" },
    { SW_STRING_TABLE "LegalCopyright", "Copyright (c) 2026 The Slicewright developers" },
    { SW_STRING_TABLE "OriginalFilename", "slicewright" },
    { SW_STRING_TABLE "ProductName", "Slicewright" },
    { SW_STRING_TABLE "ProductVersion", SLICEWRIGHT_VERSION },
} };

#undef SW_STRING_TABLE

constexpr size_t kRecordSize = sw::VersionRecordSize(kEntries);

__attribute__((section("swversion"), used)) constexpr std::array<unsigned char, kRecordSize> kVersionRecord
    = sw::BuildVersionRecord<kRecordSize>(kEntries);

} // namespace
