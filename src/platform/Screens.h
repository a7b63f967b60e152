#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

#include <optional>

namespace Platform {

// One display in the virtual desktop's coordinates (origin top-left, y grows downward, pixels as
// Qt reports them).
struct ScreenGeometry {
    QRect geometry; // the whole display
    QRect availableGeometry; // the part not covered by panels and docks
    bool operator==(const ScreenGeometry &) const = default;
};

// The pointer and the displays, for placing windows beside the pointer. Main thread only.
class Screens {
public:
    virtual ~Screens() = default;

    // The pointer's position in virtual-desktop coordinates.
    virtual QPoint pointerPosition() const = 0;

    // Every display, in the platform's order; empty when there is none.
    virtual QList<ScreenGeometry> screens() const = 0;

    // The display the platform calls primary; none when there is no display at all.
    virtual std::optional<ScreenGeometry> primaryScreen() const = 0;

    // Whether a compositing manager blends translucent windows with what lies beneath; when it
    // does not, a translucent window shows black where it is transparent and must be shaped.
    virtual bool supportsTranslucency() const = 0;
};

} // namespace Platform
