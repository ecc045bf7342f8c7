#include "core/imaging/ora/ora_xml.h"

#include "core/base/errors.h"
#include "core/base/utf8.h"

#include <cstdint>

namespace sw {

namespace {

constexpr int kMaxDepth = 64;
constexpr size_t kMaxElements = size_t(1) << 16;

[[noreturn]] void Invalid(const std::string& reason)
{
    throw EInvalidGraphic("OpenRaster image is not valid (stack.xml: " + reason + ")");
}

class TXmlParser {
public:
    explicit TXmlParser(std::string_view text)
        : m_text(text)
    { }

    TXmlElement Document()
    {
        SkipMisc();
        if (!StartsWith("<"))
            Invalid("no root element");
        TXmlElement root = Element(0);
        SkipMisc();
        if (m_at != m_text.size())
            Invalid("text after the root element");
        return root;
    }

private:
    bool StartsWith(std::string_view prefix) const { return m_text.substr(m_at).starts_with(prefix); }

    // Steps past the text up to and including the end marker.
    void SkipPast(std::string_view end, const char* what)
    {
        const size_t found = m_text.find(end, m_at);
        if (found == std::string_view::npos)
            Invalid(std::string("an unclosed ") + what);
        m_at = found + end.size();
    }

    void SkipSpace()
    {
        while (m_at < m_text.size()
            && (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\r' || m_text[m_at] == '\n'))
            ++m_at;
    }

    // Space, comments, processing instructions (the XML declaration among
    // them) and a document type without an internal subset.
    void SkipMisc()
    {
        for (;;) {
            SkipSpace();
            if (StartsWith("<?"))
                SkipPast("?>", "processing instruction");
            else if (StartsWith("<!--"))
                SkipPast("-->", "comment");
            else if (StartsWith("<!DOCTYPE"))
                SkipPast(">", "document type");
            else
                return;
        }
    }

    static bool IsNameChar(char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
            || c == '-' || c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
    }

    std::string Name()
    {
        const size_t start = m_at;
        while (m_at < m_text.size() && IsNameChar(m_text[m_at]))
            ++m_at;
        if (m_at == start)
            Invalid("a missing name");
        return std::string(m_text.substr(start, m_at - start));
    }

    std::string Unescape(std::string_view raw)
    {
        std::string out;
        out.reserve(raw.size());
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '&') {
                out += raw[i];
                continue;
            }
            const size_t end = raw.find(';', i);
            if (end == std::string_view::npos || end - i > 12)
                Invalid("an unclosed entity reference");
            const std::string_view entity = raw.substr(i + 1, end - i - 1);
            if (entity == "amp")
                out += '&';
            else if (entity == "lt")
                out += '<';
            else if (entity == "gt")
                out += '>';
            else if (entity == "quot")
                out += '"';
            else if (entity == "apos")
                out += '\'';
            else if (entity.size() > 1 && entity[0] == '#')
                AppendUtf8(out, CharacterReference(entity.substr(1)));
            else
                Invalid("an unknown entity '" + std::string(entity) + "'");
            i = end;
        }
        return out;
    }

    static uint32_t CharacterReference(std::string_view digits)
    {
        const bool hex = digits[0] == 'x';
        if (hex)
            digits.remove_prefix(1);
        if (digits.empty())
            Invalid("an empty character reference");
        uint32_t code = 0;
        for (const char c : digits) {
            uint32_t digit = 0;
            if (c >= '0' && c <= '9')
                digit = uint32_t(c - '0');
            else if (hex && c >= 'a' && c <= 'f')
                digit = uint32_t(c - 'a' + 10);
            else if (hex && c >= 'A' && c <= 'F')
                digit = uint32_t(c - 'A' + 10);
            else
                Invalid("a malformed character reference");
            code = code * (hex ? 16 : 10) + digit;
            if (code > 0x10FFFF)
                Invalid("a character reference to no character");
        }
        if (code == 0 || (code >= 0xD800 && code < 0xE000))
            Invalid("a character reference to no character");
        return code;
    }

    TXmlElement Element(int depth)
    {
        if (depth > kMaxDepth)
            Invalid("elements nested too deeply");
        if (++m_elements > kMaxElements)
            Invalid("too many elements");
        ++m_at; // '<'
        TXmlElement element;
        element.Name = Name();
        for (;;) {
            SkipSpace();
            if (m_at >= m_text.size())
                Invalid("an unclosed start tag");
            if (StartsWith("/>")) {
                m_at += 2;
                return element;
            }
            if (m_text[m_at] == '>') {
                ++m_at;
                break;
            }
            std::string name = Name();
            SkipSpace();
            if (m_at >= m_text.size() || m_text[m_at] != '=')
                Invalid("an attribute without a value");
            ++m_at;
            SkipSpace();
            if (m_at >= m_text.size() || (m_text[m_at] != '"' && m_text[m_at] != '\''))
                Invalid("an unquoted attribute value");
            const char quote = m_text[m_at++];
            const size_t end = m_text.find(quote, m_at);
            if (end == std::string_view::npos)
                Invalid("an unclosed attribute value");
            element.Attributes.emplace_back(std::move(name), Unescape(m_text.substr(m_at, end - m_at)));
            m_at = end + 1;
        }
        // Content: child elements, and text, comments and the like between.
        for (;;) {
            const size_t next = m_text.find('<', m_at);
            if (next == std::string_view::npos)
                Invalid("an unclosed element <" + element.Name + ">");
            m_at = next;
            if (StartsWith("</")) {
                m_at += 2;
                if (Name() != element.Name)
                    Invalid("a mismatched end tag for <" + element.Name + ">");
                SkipSpace();
                if (m_at >= m_text.size() || m_text[m_at] != '>')
                    Invalid("an unclosed end tag");
                ++m_at;
                return element;
            }
            if (StartsWith("<!--"))
                SkipPast("-->", "comment");
            else if (StartsWith("<![CDATA["))
                SkipPast("]]>", "CDATA section");
            else if (StartsWith("<?"))
                SkipPast("?>", "processing instruction");
            else
                element.Children.push_back(Element(depth + 1));
        }
    }

    std::string_view m_text;
    size_t m_at = 0;
    size_t m_elements = 0;
};

} // namespace

const std::string* TXmlElement::Attribute(std::string_view name) const
{
    for (const auto& [key, value] : Attributes) {
        if (key == name)
            return &value;
    }
    return nullptr;
}

TXmlElement ReadXml(std::string_view text)
{
    return TXmlParser(text).Document();
}

} // namespace sw
