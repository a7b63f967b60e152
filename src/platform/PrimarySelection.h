#pragma once

#include "platform/FrontWindow.h"

#include <QString>

#include <optional>

namespace Platform {

// The primary selection (X11 PRIMARY): the text last selected anywhere, which terminal emulators
// publish as soon as the user selects, without any copy command. Main thread only.
class PrimarySelection {
public:
    virtual ~PrimarySelection() = default;

    // The selected text, provided the selection is held by `window` or by another window of the
    // same application (a child, a hidden selection-owner window, another of its top-levels);
    // nothing when another application or nobody holds it, or when it holds no text. A window with
    // id 0 is one the desktop does not name: then whoever holds the selection will do.
    virtual std::optional<QString> stringOwnedBy(const FrontWindowInfo &window) const = 0;

    // Makes `text` the primary selection, owned by us and marked so that clipboard managers do
    // not record it. Returns false when the system refused us the selection.
    virtual bool setString(const QString &text) = 0;

    // Whether another application has fetched the text we last put there with setString(): a
    // paste from the primary selection. X11 applications fetch a selection only when they paste.
    virtual bool contentsFetchedSinceLastWrite() const = 0;
};

} // namespace Platform
