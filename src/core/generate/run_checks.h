#pragma once

// Checks a run makes before it writes anything: that none of its files
// would replace another of them, the picture it cuts or the project file;
// and what an e-mail page refuses or warns about.

#include "core/generate/cell_plan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sw {

// A file the run would write, and what it is, for messages ("the page",
// "cell R1C2's image").
struct TRunFile {
    std::string FileName;
    std::string What;
};

// Fails with EFCreateError "Cannot create file NAME (...)" when a file of
// files is the picture's or the project's file (compared as files, so
// another spelling of a folder or a link is caught), or when two of files
// are one name in one folder. Empty picture or project names are not
// compared.
void RefuseNameCollisions(const std::vector<TRunFile>& files, const std::string& pictureFileName,
    const std::string& projectFileName);

// Something the run does not stop for, unless warnings are errors: a fact
// for the log (Text, without "Warning: " and the full stop), a stable Code
// for readers that sort them, and the cell it is about, if any.
struct TRunWarning {
    std::string Code;
    std::string Text;
    std::optional<TCellRef> Cell {};
};

// Gmail shows only the start of a message whose HTML is longer, behind a
// link; "102 KB" read in thousands, which warns a little early rather than
// late.
constexpr uint64_t kMailClipBytes = 102000;

// Fails with ECellPropertyError when a cell of an e-mail page would be
// written in a format some mail clients do not show (IsMailSafe), naming
// the cells and their formats.
void RefuseMailUnsafeFormats(const TCellPlan& plan);

// An e-mail page's cells that link without alt text: their link has no name
// for a screen reader, nor any text where images are blocked.
std::vector<TRunWarning> MailCellWarnings(const TCellPlan& plan);

// The warning for an e-mail page of htmlBytes, if it is long enough to be cut.
std::optional<TRunWarning> MailSizeWarning(uint64_t htmlBytes);

} // namespace sw
