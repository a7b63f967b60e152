#include "UpstreamAnswer.h"

#include "corrector/Utf8.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

namespace Backend {

namespace {

constexpr std::string_view kSpace = " \t\r\n\f\v";

std::string_view trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Lower-case ASCII words: apostrophes dropped ("I’m" is "im"), anything else not a letter or a
// digit separates words.
std::vector<std::string> words(std::string_view s)
{
    std::string flat;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\'')
            continue;
        if (s.substr(i, 3) == "\xE2\x80\x99") { // ’
            i += 2;
            continue;
        }
        flat += std::isalnum(c) ? static_cast<char>(std::tolower(c)) : ' ';
    }
    std::istringstream in(flat);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// The model's reasoning before its answer. The opening tag may belong to the prompt template, so
// that only the closing one is in the answer. Tags that the input itself has are left alone.
void dropReasoning(std::string &answer, std::string_view input)
{
    for (const std::string tag : {"think", "thinking", "reasoning"}) {
        const std::string open = "<" + tag + ">", close = "</" + tag + ">";
        if (input.find(open) != std::string_view::npos || input.find(close) != std::string_view::npos)
            continue;
        const std::string_view rest = trimmed(answer);
        const auto end = answer.find(close);
        if (startsWith(rest, open) || (end != std::string::npos && answer.find(open) == std::string::npos))
            answer.erase(0, end == std::string::npos ? answer.size() : end + close.size());
    }
}

// "Here is the corrected text:", "Sure! Here's your text:" and the like.
bool isPreamble(std::string_view line)
{
    line = trimmed(line);
    if (!endsWith(line, ":"))
        return false;
    std::vector<std::string> w = words(line);
    static const std::set<std::string> courtesies = {"sure", "certainly", "okay", "ok", "of", "course"};
    while (!w.empty() && courtesies.count(w.front()))
        w.erase(w.begin());
    return w.size() >= 2 && (w[0] == "heres" || (w[0] == "here" && (w[1] == "is" || w[1] == "are")));
}

// The model declining: an apology or "I can't" at the start of an answer that is mostly not the
// input's words (a corrected "im sory but i cant come" is no refusal).
bool declines(std::string_view answer, std::string_view input)
{
    const std::vector<std::string> said = words(answer);
    static const std::array<std::string_view, 16> openings
        = {"im sorry", "i am sorry", "sorry", "i apologize", "i apologise", "i cant", "i cannot", "i can not",
            "im unable", "i am unable", "im not able", "i am not able", "i must decline", "as an ai",
            "as a language model", "unfortunately i"};
    std::string start;
    for (std::size_t i = 0; i < said.size() && i < 4; ++i)
        start += (i ? " " : "") + said[i];
    start += ' ';
    if (!std::any_of(openings.begin(), openings.end(),
            [&](std::string_view o) { return startsWith(start, std::string(o) + ' '); }))
        return false;
    const std::vector<std::string> given = words(input);
    const std::set<std::string> known(given.begin(), given.end()), distinct(said.begin(), said.end());
    const auto shared
        = std::count_if(distinct.begin(), distinct.end(), [&](const auto &w) { return known.count(w); });
    return shared * 2 < static_cast<long>(distinct.size());
}

} // namespace

std::string excerpt(std::string s, std::size_t limit)
{
    if (s.size() > limit) {
        std::size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
            --cut;
        s = s.substr(0, cut) + "...";
    }
    for (char &c : s)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    return Utf8::isValid(s) ? s : std::string("(unreadable message)");
}

MarkedText markText(std::string_view text)
{
    std::string tag = "text";
    for (int n = 2; text.find("<" + tag + ">") != std::string_view::npos
         || text.find("</" + tag + ">") != std::string_view::npos;
         ++n)
        tag = "text-" + std::to_string(n);
    MarkedText marked {"<" + tag + ">", "</" + tag + ">", {}};
    marked.message = marked.open + "\n" + std::string(trimmed(text)) + "\n" + marked.close;
    return marked;
}

UpstreamAnswer readAnswer(std::string_view input, const MarkedText &marked,
    std::optional<std::string> content, std::string_view finishReason, std::string_view refusal)
{
    UpstreamAnswer result;
    if (finishReason == "length") {
        result.problem = "the upstream answer was cut off at the model's length limit";
        return result;
    }
    if (finishReason == "content_filter") {
        result.problem = "the upstream service withheld the answer (content filter)";
        return result;
    }
    if (!refusal.empty()) {
        result.problem
            = "the upstream model declined to correct the text: " + excerpt(std::string(refusal), 200);
        return result;
    }
    if (!content) {
        result.problem = "upstream reply has no choices[0].message.content";
        return result;
    }
    dropReasoning(*content, input);
    std::string_view answer = trimmed(*content);
    const std::string_view given = trimmed(input);
    // The markers repeated around the answer.
    if (startsWith(answer, marked.open) && endsWith(answer, marked.close)
        && answer.size() >= marked.open.size() + marked.close.size())
        answer = trimmed(
            answer.substr(marked.open.size(), answer.size() - marked.open.size() - marked.close.size()));
    const auto firstLine = [](std::string_view s) { return s.substr(0, s.find('\n')); };
    if (isPreamble(firstLine(answer)) && !isPreamble(firstLine(given)))
        answer = trimmed(answer.substr(std::min(answer.size(), firstLine(answer).size())));
    // A code fence around the whole answer.
    const auto fenceEnd = answer.find('\n');
    if (startsWith(answer, "```") && endsWith(answer, "```") && fenceEnd != std::string_view::npos
        && fenceEnd + 3 <= answer.size() - 3 && given.find("```") == std::string_view::npos)
        answer = trimmed(answer.substr(fenceEnd + 1, answer.size() - 3 - fenceEnd - 1));
    static const std::array<std::pair<std::string_view, std::string_view>, 7> quotes = {{
        {"\"", "\""}, {"'", "'"}, {"\xE2\x80\x9C", "\xE2\x80\x9D"}, // “ ”
        {"\xE2\x80\x98", "\xE2\x80\x99"}, // ‘ ’
        {"\xC2\xAB", "\xC2\xBB"}, // « »
        {"\xE2\x80\x9E", "\xE2\x80\x9C"}, // „ “
        {"\xE3\x80\x8C", "\xE3\x80\x8D"}, // 「 」
    }};
    for (const auto &[open, close] : quotes)
        if (answer.size() >= open.size() + close.size() && startsWith(answer, open) && endsWith(answer, close)
            && !startsWith(given, open) && !endsWith(given, close)) {
            answer = trimmed(answer.substr(open.size(), answer.size() - open.size() - close.size()));
            break;
        }
    if (answer.empty()) {
        result.problem = "the upstream model answered with no text";
        return result;
    }
    if (declines(answer, given)) {
        result.problem
            = "the upstream model declined to correct the text: " + excerpt(std::string(answer), 200);
        return result;
    }
    const std::size_t lead = input.find_first_not_of(kSpace);
    result.text = std::string(input.substr(0, lead)) + std::string(answer)
        + std::string(input.substr(input.find_last_not_of(kSpace) + 1));
    result.ok = true;
    return result;
}

} // namespace Backend
