#include "core/imaging/psd/psd_descriptor.h"

namespace sw {

namespace {

// Real files nest a handful of levels; the bound keeps hostile nesting from
// exhausting the stack.
constexpr int kMaxDepth = 32;
// A value takes a few bytes in the file but over a hundred in memory; text
// layers and slices hold a few hundred values, so this bounds the memory a
// hostile descriptor can claim well above any real one.
constexpr size_t kMaxValues = size_t(1) << 17;

struct TBudget {
    size_t Values = 0;
    void Take()
    {
        if (++Values > kMaxValues)
            ThrowInvalidPsd("a descriptor with too many values");
    }
};

// A key or class id: a length, or 0 for a four-byte code.
std::string ReadId(TPsdBytes& in)
{
    const uint32_t length = in.U32();
    const auto bytes = in.Bytes(length == 0 ? 4 : length);
    return std::string(bytes.begin(), bytes.end());
}

TPsdValue ReadValue(TPsdBytes& in, const std::string& type, int depth, TBudget& budget);

TPsdValue ReadItems(TPsdBytes& in, int depth, TBudget& budget)
{
    if (depth > kMaxDepth)
        ThrowInvalidPsd("descriptors nested too deeply");
    TPsdValue value;
    value.Kind = TPsdValue::TKind::Descriptor;
    in.UnicodeString(); // class name
    ReadId(in); // class id
    // Every item takes at least eight bytes, so a false count ends in a
    // short read rather than a long loop.
    const uint32_t count = in.U32();
    for (uint32_t i = 0; i < count; ++i) {
        std::string key = ReadId(in);
        const std::string type = in.Key4();
        value.Items.push_back(ReadValue(in, type, depth + 1, budget));
        value.Items.back().Key = std::move(key);
    }
    return value;
}

void SkipReference(TPsdBytes& in)
{
    const uint32_t count = in.U32();
    for (uint32_t i = 0; i < count; ++i) {
        const std::string form = in.Key4();
        if (form == "prop") {
            in.UnicodeString();
            ReadId(in);
            ReadId(in);
        } else if (form == "Clss") {
            in.UnicodeString();
            ReadId(in);
        } else if (form == "Enmr") {
            in.UnicodeString();
            ReadId(in);
            ReadId(in);
            ReadId(in);
        } else if (form == "rele") {
            in.UnicodeString();
            ReadId(in);
            in.U32();
        } else if (form == "Idnt" || form == "indx") {
            in.U32();
        } else if (form == "name") {
            in.UnicodeString();
            ReadId(in);
            in.UnicodeString();
        } else {
            ThrowInvalidPsd("unknown reference form '" + form + "' in a descriptor");
        }
    }
}

TPsdValue ReadValue(TPsdBytes& in, const std::string& type, int depth, TBudget& budget)
{
    budget.Take();
    TPsdValue value;
    if (type == "Objc" || type == "GlbO") {
        return ReadItems(in, depth, budget);
    } else if (type == "VlLs") {
        if (depth > kMaxDepth)
            ThrowInvalidPsd("descriptors nested too deeply");
        value.Kind = TPsdValue::TKind::List;
        const uint32_t count = in.U32();
        for (uint32_t i = 0; i < count; ++i) {
            const std::string itemType = in.Key4();
            value.Items.push_back(ReadValue(in, itemType, depth + 1, budget));
        }
    } else if (type == "long") {
        value.Kind = TPsdValue::TKind::Integer;
        value.Integer = in.I32();
    } else if (type == "comp") {
        value.Kind = TPsdValue::TKind::Integer;
        value.Integer = static_cast<int64_t>(in.U64());
    } else if (type == "doub") {
        value.Kind = TPsdValue::TKind::Double;
        value.Double = in.F64();
    } else if (type == "UntF") {
        in.Key4(); // unit
        value.Kind = TPsdValue::TKind::Double;
        value.Double = in.F64();
    } else if (type == "UnFl") {
        in.Key4();
        in.Skip(uint64_t(in.U32()) * 8);
    } else if (type == "TEXT") {
        value.Kind = TPsdValue::TKind::Text;
        value.Text = in.UnicodeString();
    } else if (type == "enum") {
        ReadId(in); // enumeration type
        value.Kind = TPsdValue::TKind::Enum;
        value.Text = ReadId(in);
    } else if (type == "bool") {
        value.Kind = TPsdValue::TKind::Bool;
        value.Bool = in.U8() != 0;
    } else if (type == "type" || type == "GlbC") {
        in.UnicodeString();
        ReadId(in);
    } else if (type == "alis" || type == "tdta" || type == "Pth ") {
        in.Skip(in.U32());
    } else if (type == "obj ") {
        SkipReference(in);
    } else {
        ThrowInvalidPsd("unknown value type '" + type + "' in a descriptor");
    }
    return value;
}

} // namespace

const TPsdValue* TPsdValue::Find(std::string_view key) const
{
    for (const TPsdValue& item : Items) {
        if (item.Key == key)
            return &item;
    }
    return nullptr;
}

std::string TPsdValue::TextOf(std::string_view key) const
{
    const TPsdValue* item = Find(key);
    return item && item->Kind == TKind::Text ? item->Text : std::string();
}

TPsdValue ReadPsdDescriptor(TPsdBytes& in)
{
    TBudget budget;
    return ReadItems(in, 0, budget);
}

} // namespace sw
