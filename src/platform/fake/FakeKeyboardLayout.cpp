#include "platform/fake/FakeKeyboardLayout.h"

namespace Platform {

FakeKeyboardLayout::FakeKeyboardLayout()
{
    // Index = macOS key code; what the US layout types there without modifiers.
    static const char16_t *const us[] = {
        u"a",
        u"s",
        u"d",
        u"f",
        u"h",
        u"g",
        u"z",
        u"x",
        u"c",
        u"v",
        u"\u00a7",
        u"b",
        u"q",
        u"w",
        u"e",
        u"r",
        u"y",
        u"t",
        u"1",
        u"2",
        u"3",
        u"4",
        u"6",
        u"5",
        u"=",
        u"9",
        u"7",
        u"-",
        u"8",
        u"0",
        u"]",
        u"o",
        u"u",
        u"[",
        u"i",
        u"p",
        u"\r",
        u"l",
        u"j",
        u"'",
        u"k",
        u";",
        u"\\",
        u",",
        u"/",
        u"n",
        u"m",
        u".",
        u"\t",
        u" ",
        u"`",
        u"\x7f",
    };
    for (quint16 code = 0; code < std::size(us); ++code)
        m_characters.insert(code, QString::fromUtf16(us[code]));
    m_characters.insert(53, QStringLiteral("\x1b"));
    const struct {
        quint16 code;
        char16_t ch;
    } keypad[]
        = {{65, u'.'}, {67, u'*'}, {69, u'+'}, {75, u'/'}, {78, u'-'}, {81, u'='}, {82, u'0'}, {83, u'1'},
            {84, u'2'}, {85, u'3'}, {86, u'4'}, {87, u'5'}, {88, u'6'}, {89, u'7'}, {91, u'8'}, {92, u'9'}};
    for (const auto &k : keypad)
        m_characters.insert(k.code, QString(QChar(k.ch)));
}

} // namespace Platform
