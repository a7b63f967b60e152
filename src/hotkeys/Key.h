#pragma once

#include "platform/KeyEncodings.h"

#include <QHashFunctions>
#include <QtGlobal>

#include <functional>
#include <span>

namespace Hotkeys {

// A physical key, named by its macOS virtual key code: the position on an ANSI keyboard, not the
// character that the current layout types there. Any integer is a valid key.
class Key {
public:
    constexpr explicit Key(qint64 rawValue)
        : m_rawValue(rawValue)
    {
    }

    constexpr qint64 rawValue() const { return m_rawValue; }
    friend constexpr bool operator==(Key, Key) = default;

    // Letters
    static const Key a;
    static const Key s;
    static const Key d;
    static const Key f;
    static const Key h;
    static const Key g;
    static const Key z;
    static const Key x;
    static const Key c;
    static const Key v;
    static const Key b;
    static const Key q;
    static const Key w;
    static const Key e;
    static const Key r;
    static const Key y;
    static const Key t;
    static const Key o;
    static const Key u;
    static const Key i;
    static const Key p;
    static const Key l;
    static const Key j;
    static const Key k;
    static const Key n;
    static const Key m;
    // Digits of the main row
    static const Key one;
    static const Key two;
    static const Key three;
    static const Key four;
    static const Key six;
    static const Key five;
    static const Key nine;
    static const Key seven;
    static const Key eight;
    static const Key zero;
    // Punctuation
    static const Key equal;
    static const Key minus;
    static const Key rightBracket;
    static const Key leftBracket;
    static const Key quote;
    static const Key semicolon;
    static const Key backslash;
    static const Key comma;
    static const Key slash;
    static const Key period;
    static const Key backtick;
    // Editing and whitespace
    static const Key returnKey;
    static const Key tab;
    static const Key space;
    static const Key deleteKey;
    static const Key escape;
    static const Key help;
    static const Key deleteForward;
    // Modifier keys
    static const Key rightCommand;
    static const Key command;
    static const Key shift;
    static const Key capsLock;
    static const Key option;
    static const Key control;
    static const Key rightShift;
    static const Key rightOption;
    static const Key rightControl;
    static const Key function;
    // Navigation
    static const Key home;
    static const Key pageUp;
    static const Key end;
    static const Key pageDown;
    static const Key leftArrow;
    static const Key rightArrow;
    static const Key downArrow;
    static const Key upArrow;
    // Function keys
    static const Key f1;
    static const Key f2;
    static const Key f3;
    static const Key f4;
    static const Key f5;
    static const Key f6;
    static const Key f7;
    static const Key f8;
    static const Key f9;
    static const Key f10;
    static const Key f11;
    static const Key f12;
    static const Key f13;
    static const Key f14;
    static const Key f15;
    static const Key f16;
    static const Key f17;
    static const Key f18;
    static const Key f19;
    static const Key f20;
    // Keypad
    static const Key keypadDecimal;
    static const Key keypadMultiply;
    static const Key keypadPlus;
    static const Key keypadClear;
    static const Key keypadDivide;
    static const Key keypadEnter;
    static const Key keypadMinus;
    static const Key keypadEquals;
    static const Key keypad0;
    static const Key keypad1;
    static const Key keypad2;
    static const Key keypad3;
    static const Key keypad4;
    static const Key keypad5;
    static const Key keypad6;
    static const Key keypad7;
    static const Key keypad8;
    static const Key keypad9;
    // Media
    static const Key volumeUp;
    static const Key volumeDown;
    static const Key mute;

private:
    qint64 m_rawValue;
};

inline constexpr Key Key::a {Platform::MacKeyCode::a};
inline constexpr Key Key::s {Platform::MacKeyCode::s};
inline constexpr Key Key::d {Platform::MacKeyCode::d};
inline constexpr Key Key::f {Platform::MacKeyCode::f};
inline constexpr Key Key::h {Platform::MacKeyCode::h};
inline constexpr Key Key::g {Platform::MacKeyCode::g};
inline constexpr Key Key::z {Platform::MacKeyCode::z};
inline constexpr Key Key::x {Platform::MacKeyCode::x};
inline constexpr Key Key::c {Platform::MacKeyCode::c};
inline constexpr Key Key::v {Platform::MacKeyCode::v};
inline constexpr Key Key::b {Platform::MacKeyCode::b};
inline constexpr Key Key::q {Platform::MacKeyCode::q};
inline constexpr Key Key::w {Platform::MacKeyCode::w};
inline constexpr Key Key::e {Platform::MacKeyCode::e};
inline constexpr Key Key::r {Platform::MacKeyCode::r};
inline constexpr Key Key::y {Platform::MacKeyCode::y};
inline constexpr Key Key::t {Platform::MacKeyCode::t};
inline constexpr Key Key::o {Platform::MacKeyCode::o};
inline constexpr Key Key::u {Platform::MacKeyCode::u};
inline constexpr Key Key::i {Platform::MacKeyCode::i};
inline constexpr Key Key::p {Platform::MacKeyCode::p};
inline constexpr Key Key::l {Platform::MacKeyCode::l};
inline constexpr Key Key::j {Platform::MacKeyCode::j};
inline constexpr Key Key::k {Platform::MacKeyCode::k};
inline constexpr Key Key::n {Platform::MacKeyCode::n};
inline constexpr Key Key::m {Platform::MacKeyCode::m};
inline constexpr Key Key::one {Platform::MacKeyCode::one};
inline constexpr Key Key::two {Platform::MacKeyCode::two};
inline constexpr Key Key::three {Platform::MacKeyCode::three};
inline constexpr Key Key::four {Platform::MacKeyCode::four};
inline constexpr Key Key::six {Platform::MacKeyCode::six};
inline constexpr Key Key::five {Platform::MacKeyCode::five};
inline constexpr Key Key::nine {Platform::MacKeyCode::nine};
inline constexpr Key Key::seven {Platform::MacKeyCode::seven};
inline constexpr Key Key::eight {Platform::MacKeyCode::eight};
inline constexpr Key Key::zero {Platform::MacKeyCode::zero};
inline constexpr Key Key::equal {Platform::MacKeyCode::equal};
inline constexpr Key Key::minus {Platform::MacKeyCode::minus};
inline constexpr Key Key::rightBracket {Platform::MacKeyCode::rightBracket};
inline constexpr Key Key::leftBracket {Platform::MacKeyCode::leftBracket};
inline constexpr Key Key::quote {Platform::MacKeyCode::quote};
inline constexpr Key Key::semicolon {Platform::MacKeyCode::semicolon};
inline constexpr Key Key::backslash {Platform::MacKeyCode::backslash};
inline constexpr Key Key::comma {Platform::MacKeyCode::comma};
inline constexpr Key Key::slash {Platform::MacKeyCode::slash};
inline constexpr Key Key::period {Platform::MacKeyCode::period};
inline constexpr Key Key::backtick {Platform::MacKeyCode::backtick};
inline constexpr Key Key::returnKey {Platform::MacKeyCode::returnKey};
inline constexpr Key Key::tab {Platform::MacKeyCode::tab};
inline constexpr Key Key::space {Platform::MacKeyCode::space};
inline constexpr Key Key::deleteKey {Platform::MacKeyCode::deleteKey};
inline constexpr Key Key::escape {Platform::MacKeyCode::escape};
inline constexpr Key Key::help {Platform::MacKeyCode::help};
inline constexpr Key Key::deleteForward {Platform::MacKeyCode::deleteForward};
inline constexpr Key Key::rightCommand {Platform::MacKeyCode::rightCommand};
inline constexpr Key Key::command {Platform::MacKeyCode::command};
inline constexpr Key Key::shift {Platform::MacKeyCode::shift};
inline constexpr Key Key::capsLock {Platform::MacKeyCode::capsLock};
inline constexpr Key Key::option {Platform::MacKeyCode::option};
inline constexpr Key Key::control {Platform::MacKeyCode::control};
inline constexpr Key Key::rightShift {Platform::MacKeyCode::rightShift};
inline constexpr Key Key::rightOption {Platform::MacKeyCode::rightOption};
inline constexpr Key Key::rightControl {Platform::MacKeyCode::rightControl};
inline constexpr Key Key::function {Platform::MacKeyCode::function};
inline constexpr Key Key::home {Platform::MacKeyCode::home};
inline constexpr Key Key::pageUp {Platform::MacKeyCode::pageUp};
inline constexpr Key Key::end {Platform::MacKeyCode::end};
inline constexpr Key Key::pageDown {Platform::MacKeyCode::pageDown};
inline constexpr Key Key::leftArrow {Platform::MacKeyCode::leftArrow};
inline constexpr Key Key::rightArrow {Platform::MacKeyCode::rightArrow};
inline constexpr Key Key::downArrow {Platform::MacKeyCode::downArrow};
inline constexpr Key Key::upArrow {Platform::MacKeyCode::upArrow};
inline constexpr Key Key::f1 {Platform::MacKeyCode::f1};
inline constexpr Key Key::f2 {Platform::MacKeyCode::f2};
inline constexpr Key Key::f3 {Platform::MacKeyCode::f3};
inline constexpr Key Key::f4 {Platform::MacKeyCode::f4};
inline constexpr Key Key::f5 {Platform::MacKeyCode::f5};
inline constexpr Key Key::f6 {Platform::MacKeyCode::f6};
inline constexpr Key Key::f7 {Platform::MacKeyCode::f7};
inline constexpr Key Key::f8 {Platform::MacKeyCode::f8};
inline constexpr Key Key::f9 {Platform::MacKeyCode::f9};
inline constexpr Key Key::f10 {Platform::MacKeyCode::f10};
inline constexpr Key Key::f11 {Platform::MacKeyCode::f11};
inline constexpr Key Key::f12 {Platform::MacKeyCode::f12};
inline constexpr Key Key::f13 {Platform::MacKeyCode::f13};
inline constexpr Key Key::f14 {Platform::MacKeyCode::f14};
inline constexpr Key Key::f15 {Platform::MacKeyCode::f15};
inline constexpr Key Key::f16 {Platform::MacKeyCode::f16};
inline constexpr Key Key::f17 {Platform::MacKeyCode::f17};
inline constexpr Key Key::f18 {Platform::MacKeyCode::f18};
inline constexpr Key Key::f19 {Platform::MacKeyCode::f19};
inline constexpr Key Key::f20 {Platform::MacKeyCode::f20};
inline constexpr Key Key::keypadDecimal {Platform::MacKeyCode::keypadDecimal};
inline constexpr Key Key::keypadMultiply {Platform::MacKeyCode::keypadMultiply};
inline constexpr Key Key::keypadPlus {Platform::MacKeyCode::keypadPlus};
inline constexpr Key Key::keypadClear {Platform::MacKeyCode::keypadClear};
inline constexpr Key Key::keypadDivide {Platform::MacKeyCode::keypadDivide};
inline constexpr Key Key::keypadEnter {Platform::MacKeyCode::keypadEnter};
inline constexpr Key Key::keypadMinus {Platform::MacKeyCode::keypadMinus};
inline constexpr Key Key::keypadEquals {Platform::MacKeyCode::keypadEquals};
inline constexpr Key Key::keypad0 {Platform::MacKeyCode::keypad0};
inline constexpr Key Key::keypad1 {Platform::MacKeyCode::keypad1};
inline constexpr Key Key::keypad2 {Platform::MacKeyCode::keypad2};
inline constexpr Key Key::keypad3 {Platform::MacKeyCode::keypad3};
inline constexpr Key Key::keypad4 {Platform::MacKeyCode::keypad4};
inline constexpr Key Key::keypad5 {Platform::MacKeyCode::keypad5};
inline constexpr Key Key::keypad6 {Platform::MacKeyCode::keypad6};
inline constexpr Key Key::keypad7 {Platform::MacKeyCode::keypad7};
inline constexpr Key Key::keypad8 {Platform::MacKeyCode::keypad8};
inline constexpr Key Key::keypad9 {Platform::MacKeyCode::keypad9};
inline constexpr Key Key::volumeUp {Platform::MacKeyCode::volumeUp};
inline constexpr Key Key::volumeDown {Platform::MacKeyCode::volumeDown};
inline constexpr Key Key::mute {Platform::MacKeyCode::mute};

struct NamedKey {
    const char *name;
    Key key;
};

// Every named constant of Key with its name, in declaration order (113 of them).
std::span<const NamedKey> namedKeys();

inline size_t qHash(Key key, size_t seed = 0) noexcept
{
    return ::qHash(key.rawValue(), seed);
}

} // namespace Hotkeys

template <> struct std::hash<Hotkeys::Key> {
    size_t operator()(Hotkeys::Key key) const noexcept { return std::hash<qint64>()(key.rawValue()); }
};
