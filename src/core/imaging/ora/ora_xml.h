#pragma once

// A small bounded XML reader for the one XML file of an OpenRaster design,
// stack.xml: elements and their attributes (character and the five named
// entity references resolved); text, comments, processing instructions and
// the document type are read past. No external entities, so nothing outside
// the text is ever fetched.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sw {

struct TXmlElement {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Attributes;
    std::vector<TXmlElement> Children;

    // The attribute's value, or nullptr when the element has none by that name.
    const std::string* Attribute(std::string_view name) const;
};

// The document's root element. Malformed text, nesting deeper than 64
// levels or more than 65536 elements throw EInvalidGraphic with
// "OpenRaster image is not valid (stack.xml: REASON)".
TXmlElement ReadXml(std::string_view text);

} // namespace sw
