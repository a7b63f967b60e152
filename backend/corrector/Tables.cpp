#include "Tables.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

namespace Backend {

namespace {

// Layout (little-endian, offsets from the block's start, everything 4-byte aligned):
//   Header, MapHeader[mapCount], then each map's slots (uint32: entry index + 1, 0 for empty)
//   and entries (a key of two uint32, a string's offset and length or two entry indices, then the
//   value), then the string pool.
constexpr char kMagic[8] = {'T', 'W', 'K', 'T', 'B', 'L', '0', '1'};

struct Header {
    char magic[8];
    std::uint32_t mapCount;
    std::uint32_t size; // of the whole block: a block cut short is not read
    std::uint64_t corpusWords;
};

struct MapHeader {
    char name[16];
    std::uint32_t offset, slots, entries, valueSize;
};

std::uint32_t hashOf(std::string_view key)
{
    std::uint32_t h = 2166136261u; // FNV-1a
    for (unsigned char c : key) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

std::uint32_t hashOf(std::uint32_t a, std::uint32_t b)
{
    std::uint64_t x = (std::uint64_t(a) << 32 | b) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::uint32_t>(x >> 32);
}

std::uint32_t padded(std::uint32_t size)
{
    return (size + 3) & ~3u;
}

} // namespace

FrozenMap::FrozenMap(const char *block, std::uint32_t offset, std::uint32_t slots, std::uint32_t entries,
    std::uint32_t valueSize)
    : m_block(block)
    , m_slots(reinterpret_cast<const std::uint32_t *>(block + offset))
    , m_table(block + offset + std::size_t(slots) * 4)
    , m_mask(slots - 1)
    , m_entries(entries)
    , m_entrySize(8 + padded(valueSize))
{
}

std::int64_t FrozenMap::indexOf(std::string_view key) const
{
    if (!m_slots)
        return -1;
    for (std::uint32_t slot = hashOf(key) & m_mask;; slot = (slot + 1) & m_mask) {
        const std::uint32_t e = m_slots[slot];
        if (e == 0)
            return -1;
        const auto *k = reinterpret_cast<const std::uint32_t *>(entry(e - 1));
        if (k[1] == key.size() && std::memcmp(m_block + k[0], key.data(), key.size()) == 0)
            return e - 1;
    }
}

std::int64_t FrozenMap::indexOf(std::uint32_t first, std::uint32_t second) const
{
    if (!m_slots)
        return -1;
    for (std::uint32_t slot = hashOf(first, second) & m_mask;; slot = (slot + 1) & m_mask) {
        const std::uint32_t e = m_slots[slot];
        if (e == 0)
            return -1;
        const auto *k = reinterpret_cast<const std::uint32_t *>(entry(e - 1));
        if (k[0] == first && k[1] == second)
            return e - 1;
    }
}

const void *FrozenMap::value(std::int64_t index) const
{
    return index < 0 ? nullptr : entry(static_cast<std::uint32_t>(index)) + 8;
}

Tables::Tables(std::string_view block)
    : m_block(block)
{
    Header header {};
    if (block.size() < sizeof header)
        return;
    std::memcpy(&header, block.data(), sizeof header);
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.size != block.size()
        || block.size() < sizeof header + std::size_t(header.mapCount) * sizeof(MapHeader))
        return;
    m_corpusWords = header.corpusWords;
    const auto *maps = reinterpret_cast<const MapHeader *>(block.data() + sizeof header);
    const std::pair<const char *, FrozenMap *> known[] = {{"words", &m_words},
        {"misspellings", &m_misspellings}, {"exc.noun", &m_exceptions[0]}, {"exc.verb", &m_exceptions[1]},
        {"exc.adj", &m_exceptions[2]}, {"exc.adv", &m_exceptions[3]}, {"verbs", &m_irregular},
        {"past", &m_pastToBase}, {"participle", &m_participleToBase}, {"pairs", &m_pairs}};
    for (std::uint32_t i = 0; i < header.mapCount; ++i) {
        const MapHeader &m = maps[i];
        const std::size_t end = std::size_t(m.offset) + std::size_t(m.slots) * 4
            + std::size_t(m.entries) * (8 + padded(m.valueSize));
        // Slots are a power of two, and more than the entries so that every probe ends.
        if (end > block.size() || m.slots == 0 || (m.slots & (m.slots - 1)) != 0 || m.entries >= m.slots)
            continue;
        for (const auto &[name, map] : known)
            if (std::strncmp(m.name, name, sizeof m.name) == 0)
                *map = FrozenMap(block.data(), m.offset, m.slots, m.entries, m.valueSize);
    }
}

void TablesWriter::setIrregularVerbs(StringMap irregular, StringMap pastToBase, StringMap participleToBase)
{
    m_irregular = std::move(irregular);
    m_pastToBase = std::move(pastToBase);
    m_participleToBase = std::move(participleToBase);
}

std::string TablesWriter::build() const
{
    std::string out(sizeof(Header), '\0'), pool;
    std::vector<MapHeader> headers;
    std::unordered_map<std::string, std::uint32_t> pooled;
    // Strings are placed after the maps; their offsets are relative to the pool until then.
    std::vector<std::size_t> poolFixups;
    const auto intern = [&](const std::string &s) {
        const auto [it, added] = pooled.emplace(s, static_cast<std::uint32_t>(pool.size()));
        if (added)
            pool += s;
        return StringRef {it->second, static_cast<std::uint32_t>(s.size())};
    };
    const auto put32 = [&](std::uint32_t v) { out.append(reinterpret_cast<const char *>(&v), 4); };

    // One map: `hash(i)` of entry i, `writeEntry(i)` appends its key and value.
    const auto addMap
        = [&](const char *name, std::size_t count, std::uint32_t valueSize, auto hash, auto writeEntry) {
              std::uint32_t slots = 16;
              while (slots < count * 3 / 2 + 1)
                  slots *= 2;
              MapHeader h {};
              std::strncpy(h.name, name, sizeof h.name - 1);
              h.offset = static_cast<std::uint32_t>(out.size());
              h.slots = slots;
              h.entries = static_cast<std::uint32_t>(count);
              h.valueSize = valueSize;
              std::vector<std::uint32_t> table(slots, 0);
              for (std::size_t i = 0; i < count; ++i) {
                  std::uint32_t slot = hash(i) & (slots - 1);
                  while (table[slot] != 0)
                      slot = (slot + 1) & (slots - 1);
                  table[slot] = static_cast<std::uint32_t>(i + 1);
              }
              for (std::uint32_t v : table)
                  put32(v);
              for (std::size_t i = 0; i < count; ++i) {
                  const std::size_t before = out.size();
                  writeEntry(i);
                  out.resize(before + 8 + padded(valueSize), '\0');
              }
              headers.push_back(h);
          };
    const auto addStringKey = [&](const std::string &key) {
        const StringRef ref = intern(key);
        poolFixups.push_back(out.size());
        put32(ref.offset);
        put32(ref.length);
    };
    const auto addStringMap = [&](const char *name, const StringMap &map) {
        addMap(
            name, map.size(), sizeof(StringRef), [&](std::size_t i) { return hashOf(map[i].first); },
            [&](std::size_t i) {
                addStringKey(map[i].first);
                addStringKey(map[i].second);
            });
    };

    std::unordered_map<std::string, std::uint32_t> wordIndex;
    for (std::size_t i = 0; i < m_words.size(); ++i)
        wordIndex.emplace(m_words[i].first, static_cast<std::uint32_t>(i));
    addMap(
        "words", m_words.size(), sizeof(WordInfo), [&](std::size_t i) { return hashOf(m_words[i].first); },
        [&](std::size_t i) {
            addStringKey(m_words[i].first);
            out.append(reinterpret_cast<const char *>(&m_words[i].second), sizeof(WordInfo));
        });
    addStringMap("misspellings", m_misspellings);
    const char *excNames[4] = {"exc.noun", "exc.verb", "exc.adj", "exc.adv"};
    for (int p = 0; p < 4; ++p)
        addStringMap(excNames[p], m_exceptions[p]);
    addStringMap("verbs", m_irregular);
    addStringMap("past", m_pastToBase);
    addStringMap("participle", m_participleToBase);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairKeys;
    for (const auto &[words, count] : m_pairs) {
        const auto a = wordIndex.find(words.first), b = wordIndex.find(words.second);
        if (a == wordIndex.end() || b == wordIndex.end())
            throw std::invalid_argument("pair of unknown words: " + words.first + " " + words.second);
        pairKeys.emplace_back(a->second, b->second);
    }
    addMap(
        "pairs", pairKeys.size(), 4,
        [&](std::size_t i) { return hashOf(pairKeys[i].first, pairKeys[i].second); },
        [&](std::size_t i) {
            put32(pairKeys[i].first);
            put32(pairKeys[i].second);
            put32(m_pairs[i].second);
        });

    // The map headers go right after the block's header: shift everything written so far.
    const std::size_t headerBytes = headers.size() * sizeof(MapHeader);
    for (MapHeader &h : headers)
        h.offset += static_cast<std::uint32_t>(headerBytes);
    const std::uint32_t poolStart = static_cast<std::uint32_t>(out.size() + headerBytes);
    for (std::size_t at : poolFixups) {
        std::uint32_t v;
        std::memcpy(&v, out.data() + at, 4);
        v += poolStart;
        std::memcpy(out.data() + at, &v, 4);
    }
    Header header {};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.mapCount = static_cast<std::uint32_t>(headers.size());
    header.corpusWords = m_corpusWords;
    header.size = static_cast<std::uint32_t>(out.size() + headerBytes + pool.size());
    std::memcpy(out.data(), &header, sizeof header);
    out.insert(sizeof header, reinterpret_cast<const char *>(headers.data()), headerBytes);
    out += pool;
    return out;
}

} // namespace Backend
