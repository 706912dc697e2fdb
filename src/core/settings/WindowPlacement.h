#pragma once
// Where the download window stood when it was last closed, kept in twips (15 to a pixel) in
// the window's own settings section, and reused only on a screen of the same resolution.

#include <QString>
#include <optional>

namespace quillax {

class SettingsStore;

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kMinWindowWidthTwips = 4000;
inline constexpr int kMinWindowHeightTwips = 3000;

/// Window place and size in twips.
struct Placement {
    int top = 100;
    int left = 100;
    int width = 15000;
    int height = 10000;
};

/// "1920*1080" for a screen of 1920 by 1080 pixels.
QString ResolutionText(int widthPixels, int heightPixels);

/// The stored placement with its clamps when it was stored on a screen of `resolution`;
/// nothing when the window should open maximised.
std::optional<Placement> ReadPlacement(const SettingsStore& store, const QString& section,
                                       const QString& resolution);

/// Stores "0*0" alone for a maximised window, else the resolution and the placement.
void WritePlacement(SettingsStore& store, const QString& section, const QString& resolution,
                    bool maximised, const Placement& placement);

} // namespace quillax
