#include "core/imaging/graphic.h"

#include "core/base/errors.h"

namespace sw {

void TGraphic::SetTransparent(bool value)
{
    if (value == m_transparent)
        return;
    m_transparent = value;
    Changed();
}

void TGraphic::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, FileMode::OpenRead);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName)
{
    TFileStream stream(fileName, FileMode::Create);
    SaveToStream(stream);
    stream.Close();
}

void TGraphic::Assign(const TGraphic& source)
{
    if (!source.AssignTo(*this))
        throw EInvalidGraphicOperation(Format("Cannot assign a %s to a %s", source.ClassName(), ClassName()));
    Changed();
}

bool TGraphic::AssignTo(TGraphic&) const
{
    return false;
}

void TGraphic::LoadFromClipboardFormat(const TClipboardData&)
{
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::Changed()
{
    if (OnChange)
        OnChange();
}

} // namespace sw
