#include "QuarnKit/Signatures/SignatureFont.h"

#include <QFile>
#include <QStandardPaths>
#include <QString>

namespace quarnkit {

const std::vector<SignatureFont>& SignatureFont::candidates()
{
    // The packages of scripts/install-deps.sh.
    static const std::vector<SignatureFont> fonts{
        {"Dancing Script", "DancingScript", "fonts/opentype/dancingscript/DancingScript-Regular.otf"},
        {"Kaushan Script", "KaushanScript-Regular", "fonts/opentype/kaushanscript/KaushanScript-Regular.otf"},
        {"Kristi", "Kristi", "fonts/truetype/kristi/Kristi.ttf"},
        {"Breip", "breipfont", "fonts/truetype/breip/breipfont.ttf"},
    };
    return fonts;
}

std::vector<SignatureFont> SignatureFont::installed()
{
    std::vector<SignatureFont> out;
    for (const auto& f : candidates())
        if (f.font()) out.push_back(f);
    return out;
}

std::optional<SignatureFont> SignatureFont::withId(const std::string& id)
{
    for (const auto& f : candidates())
        if (f.id() == id) return f;
    return std::nullopt;
}

std::optional<platform::OutlineFont> SignatureFont::font() const
{
    QString path = QStandardPaths::locate(QStandardPaths::GenericDataLocation, QString::fromStdString(file));
    // A scratch XDG_DATA_DIRS may leave out the system folder the packages install into.
    if (path.isEmpty() && QFile::exists(QStringLiteral("/usr/share/") + QString::fromStdString(file)))
        path = QStringLiteral("/usr/share/") + QString::fromStdString(file);
    if (path.isEmpty()) return std::nullopt;
    return platform::OutlineFont::fromFile(path.toStdString());
}

} // namespace quarnkit
