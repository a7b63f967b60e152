#pragma once

#include <QtGlobal>

#include <optional>

class QKeyEvent;

namespace Platform {

// AppKit's event type numbers for the keyboard events the shortcut code judges.
enum class KeyEventType : int {
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
};

// AppKit's special-key characters (NSEvent.SpecialKey) that the recorder looks at.
namespace SpecialKeyCharacter {
inline constexpr char32_t enter = 0x0003;
inline constexpr char32_t backspace = 0x0008;
inline constexpr char32_t tab = 0x0009;
inline constexpr char32_t carriageReturn = 0x000D;
inline constexpr char32_t backTab = 0x0019;
inline constexpr char32_t delete_ = 0x007F;
inline constexpr char32_t upArrow = 0xF700;
inline constexpr char32_t downArrow = 0xF701;
inline constexpr char32_t leftArrow = 0xF702;
inline constexpr char32_t rightArrow = 0xF703;
inline constexpr char32_t f1 = 0xF704; // F1 to F35 are consecutive: f1 + n - 1
inline constexpr char32_t f35 = 0xF726;
inline constexpr char32_t insert = 0xF727;
inline constexpr char32_t deleteForward = 0xF728;
inline constexpr char32_t home = 0xF729;
inline constexpr char32_t end = 0xF72B;
inline constexpr char32_t pageUp = 0xF72C;
inline constexpr char32_t pageDown = 0xF72D;
inline constexpr char32_t help = 0xF746;
} // namespace SpecialKeyCharacter

// A keyboard event in the encodings the shortcut code uses everywhere: the macOS virtual key code
// of the physical key and AppKit's modifier flag values.
struct KeyEvent {
    KeyEventType type = KeyEventType::keyDown;
    // macOS virtual key code (physical ANSI position).
    quint16 keyCode = 0;
    // AppKit modifier flags (Platform::AppKitModifier in KeyEncodings.h). For flagsChanged, the
    // state after the change.
    quint64 modifierFlags = 0;
    // True for the presses a held key repeats.
    bool isARepeat = false;
    // The AppKit special key the event stands for (Tab, Delete, F1 to F35, arrows, ...), if any.
    std::optional<char32_t> specialKey;

    friend bool operator==(const KeyEvent &, const KeyEvent &) = default;
};

// Turns the toolkit's key events into KeyEvent values.
class KeyEventTranslator {
public:
    virtual ~KeyEventTranslator() = default;

    // The KeyEvent for a key press or release; nothing when the physical key has no macOS key
    // code or the event is not a key press or release. Pure, cheap; main thread.
    virtual std::optional<KeyEvent> keyEvent(const QKeyEvent &event) const = 0;
};

} // namespace Platform
