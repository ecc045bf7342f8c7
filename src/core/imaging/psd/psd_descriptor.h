#pragma once

// Action descriptors: the typed key-value trees PSD files keep text layers,
// newer slices and many settings in. Only the value kinds those need are
// kept; the rest are read past so that the keys after them can be found.

#include "core/imaging/psd/psd_bytes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

struct TPsdValue {
    enum class TKind { Other, Descriptor, List, Integer, Double, Text, Enum, Bool };
    TKind Kind = TKind::Other;
    int64_t Integer = 0;
    double Double = 0;
    bool Bool = false;
    // Text of a Text value; the value of an Enum.
    std::string Text;
    // The value's key in the descriptor holding it; empty in a list.
    std::string Key;
    // A descriptor's or list's items, in stored order.
    std::vector<TPsdValue> Items;

    // The first item with that key, or nullptr.
    const TPsdValue* Find(std::string_view key) const;
    // The item's text, or empty when it is missing or not text.
    std::string TextOf(std::string_view key) const;
};

// Reads one descriptor (class name, class id, items). Nesting deeper than a
// few dozen levels, more than about a hundred thousand values, a kind of
// value it cannot step over, or a short read throw EInvalidGraphic.
TPsdValue ReadPsdDescriptor(TPsdBytes& in);

} // namespace sw
