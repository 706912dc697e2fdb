#include "core/settings/WindowPlacement.h"

#include "core/settings/SettingsStore.h"

#include <algorithm>

namespace quillax {

QString ResolutionText(int widthPixels, int heightPixels) {
    return QStringLiteral("%1*%2").arg(widthPixels).arg(heightPixels);
}

std::optional<Placement> ReadPlacement(const SettingsStore& store, const QString& section,
                                       const QString& resolution) {
    using namespace settings_keys;
    if (store.read(section, kResolution, kResolutionDefault) != resolution) {
        return std::nullopt;
    }
    Placement p;
    store.readInt32(section, kTop, QStringLiteral("100"), p.top);
    store.readInt32(section, kLeft, QStringLiteral("100"), p.left);
    store.readInt32(section, kWidth, QStringLiteral("15000"), p.width);
    store.readInt32(section, kHeight, QStringLiteral("10000"), p.height);
    p.top = std::max(p.top, 0);
    p.left = std::max(p.left, 0);
    p.width = std::max(p.width, kMinWindowWidthTwips);
    p.height = std::max(p.height, kMinWindowHeightTwips);
    return p;
}

void WritePlacement(SettingsStore& store, const QString& section, const QString& resolution,
                    bool maximised, const Placement& placement) {
    using namespace settings_keys;
    if (maximised) {
        store.write(section, kResolution, QStringLiteral("0*0"));
        return;
    }
    store.write(section, kResolution, resolution);
    store.writeNumber(section, kTop, placement.top);
    store.writeNumber(section, kLeft, placement.left);
    store.writeNumber(section, kWidth, placement.width);
    store.writeNumber(section, kHeight, placement.height);
}

} // namespace quillax
