#include "hotkeys/Shortcut.h"

#include "hotkeys/Services.h"
#include "hotkeys/SpecialKey.h"
#include "platform/KeyboardLayout.h"

#include <QAction>
#include <QCoreApplication>
#include <QHash>
#include <QKeySequence>
#include <QMenu>
#include <QTextBoundaryFinder>

namespace Hotkeys {

namespace {

bool isSingleGraphemeCluster(const QString &text)
{
    if (text.isEmpty())
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    return finder.toNextBoundary() == text.size();
}

// First letter of each word upper (title) case, the others lower case.
QString capitalized(const QString &text)
{
    const QList<uint> scalars = text.toUcs4();
    QList<uint> result;
    result.reserve(scalars.size());
    bool atWordStart = true;
    for (uint scalar : scalars) {
        if (QChar::isLetterOrNumber(scalar)) {
            result.append(atWordStart ? QChar::toTitleCase(scalar) : QChar::toLower(scalar));
            atWordStart = false;
        } else {
            result.append(scalar);
            // Combining marks belong to the letter before them.
            if (QChar::category(scalar) != QChar::Mark_NonSpacing
                && QChar::category(scalar) != QChar::Mark_Enclosing)
                atWordStart = true;
        }
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(result.constData()), result.size());
}

// The key part of a QAction's shortcut as AppKit would hold a menu item's key equivalent. Qt
// spells letter keys upper-case although they mean the unshifted key (Ctrl+K fires without
// Shift), so letters are taken lower-case; special keys become their key-equivalent character.
std::optional<QString> keyEquivalentOfQtKey(Qt::Key qtKey)
{
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return characterFromUnicodeScalarValue(0xF704 + (qtKey - Qt::Key_F1));
    static const QHash<int, QString> specialKeyEquivalents = [] {
        QHash<int, QString> equivalents;
        for (int i = 0; i < specialKeyCount; ++i) {
            const auto specialKey = SpecialKey(i);
            const auto key = keySequenceKey(specialKey);
            const auto equivalent = appKitMenuItemKeyEquivalent(specialKey);
            if (key && equivalent)
                equivalents.insert(*key, *equivalent);
        }
        return equivalents;
    }();
    if (const auto it = specialKeyEquivalents.constFind(qtKey); it != specialKeyEquivalents.constEnd())
        return *it;
    if (qtKey <= 0 || qtKey > 0x10FFFF)
        return std::nullopt;
    const auto character = characterFromUnicodeScalarValue(qtKey);
    if (!character)
        return std::nullopt;
    return character->toLower();
}

} // namespace

std::optional<QString> Shortcut::keyToCharacter() const
{
    const Platform::KeyboardLayout *layout = services().keyboardLayout;
    if (!layout)
        return std::nullopt;
    if (specialKeyFor(key()))
        return std::nullopt;
    if (m_carbonKeyCode < 0 || m_carbonKeyCode > 0xFFFF)
        return std::nullopt;
    const QString text = layout->unshiftedCharacters(quint16(m_carbonKeyCode));
    if (!isSingleGraphemeCluster(text))
        return std::nullopt;
    return text;
}

QString Shortcut::presentableDescription() const
{
    QString keyText;
    if (const auto specialKey = specialKeyFor(key()))
        keyText = Hotkeys::presentableDescription(*specialKey);
    else
        keyText = keyToCharacter().value_or(QString(QChar(0xFFFD)));
    return hk_symbolicRepresentation(modifiers()) + capitalized(keyText);
}

QString Shortcut::nativeText() const
{
    // The catalogue and the order of QKeySequence's own text (Meta, Ctrl, Alt, Shift), except that
    // Linux desktops call the Meta key Super.
    const auto name = [](const char *text) { return QCoreApplication::translate("QShortcut", text); };
    const ModifierFlags flags = modifiers();
    QString text;
    if (flags.contains(ModifierFlags::control))
        text += name("Super") + u'+';
    if (flags.contains(ModifierFlags::command))
        text += name("Ctrl") + u'+';
    if (flags.contains(ModifierFlags::option))
        text += name("Alt") + u'+';
    if (flags.contains(ModifierFlags::shift))
        text += name("Shift") + u'+';
    if (flags.contains(ModifierFlags::function))
        text += name("Fn") + u'+';

    const auto qtKeyText
        = [](QKeyCombination key) { return QKeySequence(key).toString(QKeySequence::NativeText); };
    if (const auto specialKey = specialKeyFor(key())) {
        if (const auto qtKey = keySequenceKey(*specialKey))
            return text + qtKeyText(*qtKey);
        // Keypad keys show their face with a keycap; Qt names them "Num+" and the face.
        const QString glyphs = Hotkeys::presentableDescription(*specialKey);
        if (glyphs.size() == 2 && glyphs.at(1) == QChar(0x20E3))
            return text + qtKeyText(QKeyCombination(Qt::KeypadModifier, Qt::Key(glyphs.at(0).unicode())));
        return text + glyphs;
    }
    const std::optional<QString> character = keyToCharacter();
    const QList<uint> scalars = character ? character->toUcs4() : QList<uint>();
    if (scalars.size() != 1)
        return text + (character ? capitalized(*character) : QString(QChar(0xFFFD)));
    // Qt names a character key by the upper-case form of its character.
    return text + qtKeyText(Qt::Key(QChar::toUpper(scalars.front())));
}

std::optional<QString> Shortcut::nsMenuItemKeyEquivalent() const
{
    if (const auto specialKey = specialKeyFor(key()))
        return appKitMenuItemKeyEquivalent(*specialKey);
    return keyToCharacter();
}

std::optional<QKeySequence> Shortcut::toKeySequence() const
{
    if (modifiers().contains(ModifierFlags::function))
        return std::nullopt;
    std::optional<Qt::Key> qtKey;
    if (const auto specialKey = specialKeyFor(key())) {
        qtKey = keySequenceKey(*specialKey);
    } else if (const auto character = keyToCharacter()) {
        const QList<uint> scalars = character->toUcs4();
        // Qt names a character key by the upper-case form of its character.
        if (scalars.size() == 1)
            qtKey = Qt::Key(QChar::toUpper(scalars.front()));
    }
    if (!qtKey)
        return std::nullopt;
    return QKeySequence(QKeyCombination(toEventModifiers(modifiers()), *qtKey));
}

QAction *Shortcut::menuItemWithMatchingShortcut(const QMenu *menu) const
{
    if (!menu)
        return nullptr;
    const ModifierFlags wanted = modifiers();
    const std::optional<QString> keyText = nsMenuItemKeyEquivalent();
    const QList<QAction *> items = menu->actions();
    for (QAction *item : items) {
        // A menu item of AppKit has one key equivalent; a QAction may have several, and any of
        // them would take the key away from the shortcut.
        const QList<QKeySequence> sequences = item->shortcuts();
        for (const QKeySequence &sequence : sequences) {
            // A multi-key sequence cannot be typed as one shortcut.
            if (sequence.count() != 1)
                continue;
            const QKeyCombination combination = sequence[0];
            // Qt states Shift in the item's modifiers and never in the key's case (keys are taken
            // lower-case by keyEquivalentOfQtKey), so an item is already in the folded form AppKit
            // makes of an upper-case key equivalent: Ctrl+Shift+K is Command+Shift+"k".
            const QString itemKeyEquivalent = keyEquivalentOfQtKey(combination.key()).value_or(QString());
            const ModifierFlags itemFlags = modifierFlagsFromQt(combination.keyboardModifiers());
            if (keyText && !itemKeyEquivalent.isEmpty() && *keyText == itemKeyEquivalent
                && wanted == itemFlags)
                return item;
        }
        if (const QMenu *submenu = item->menu()) {
            if (QAction *found = menuItemWithMatchingShortcut(submenu))
                return found;
        }
    }
    return nullptr;
}

} // namespace Hotkeys
