#include "Speller.h"

#include <aspell.h>

namespace Backend {

Speller::~Speller()
{
    delete_aspell_speller(m_speller);
}

std::unique_ptr<Speller> Speller::open(const std::string &language, std::string &error)
{
    AspellConfig *config = new_aspell_config();
    aspell_config_replace(config, "lang", language.c_str());
    aspell_config_replace(config, "encoding", "utf-8");
    // "fast" is several times quicker than "normal" and ranked as well on our typo benchmark.
    aspell_config_replace(config, "sug-mode", "fast");
    // Words the user added to Aspell for other programs must not change what the backend does;
    // the backend has its own allow-list.
    aspell_config_replace(config, "home-dir", "/nonexistent/tarnwick");
    aspell_config_replace(config, "personal", "/nonexistent/tarnwick/personal.pws");
    aspell_config_replace(config, "repl", "/nonexistent/tarnwick/repl.prepl");
    AspellCanHaveError *result = new_aspell_speller(config);
    delete_aspell_config(config);
    if (aspell_error_number(result) != 0) {
        error = aspell_error_message(result);
        delete_aspell_can_have_error(result);
        return nullptr;
    }
    return std::unique_ptr<Speller>(new Speller(to_aspell_speller(result)));
}

bool Speller::check(std::string_view word)
{
    return aspell_speller_check(m_speller, word.data(), static_cast<int>(word.size())) == 1;
}

std::vector<std::string> Speller::suggest(std::string_view word, std::size_t limit)
{
    std::vector<std::string> out;
    const AspellWordList *list
        = aspell_speller_suggest(m_speller, word.data(), static_cast<int>(word.size()));
    if (!list)
        return out;
    AspellStringEnumeration *elements = aspell_word_list_elements(list);
    while (out.size() < limit) {
        const char *s = aspell_string_enumeration_next(elements);
        if (!s)
            break;
        out.emplace_back(s);
    }
    delete_aspell_string_enumeration(elements);
    return out;
}

std::optional<UnknownWord> WordCache::find(const std::string &lower)
{
    Shard &shard = shardOf(lower);
    std::lock_guard lock(shard.mutex);
    if (const auto it = shard.newer.find(lower); it != shard.newer.end())
        return it->second;
    const auto it = shard.older.find(lower);
    if (it == shard.older.end())
        return std::nullopt;
    // Still in use: keep it with the newer half.
    UnknownWord entry = it->second;
    shard.newer.insert(shard.older.extract(it));
    return entry;
}

void WordCache::insert(const std::string &lower, UnknownWord entry)
{
    Shard &shard = shardOf(lower);
    std::lock_guard lock(shard.mutex);
    if (shard.newer.size() >= m_halfCapacity) {
        shard.older = std::move(shard.newer);
        shard.newer.clear();
    }
    shard.newer.insert_or_assign(lower, std::move(entry));
}

std::size_t WordCache::size() const
{
    std::size_t n = 0;
    for (const Shard &shard : m_shards) {
        std::lock_guard lock(shard.mutex);
        n += shard.newer.size() + shard.older.size();
    }
    return n;
}

SpellerPool::SpellerPool(std::string language)
    : m_language(std::move(language))
{
}

SpellerPool::~SpellerPool() = default;

SpellerPool::Lease::~Lease()
{
    if (m_pool && m_speller)
        m_pool->release(std::move(m_speller));
}

SpellerPool::Lease SpellerPool::acquire()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            std::unique_ptr<Speller> speller = std::move(m_idle.back());
            m_idle.pop_back();
            return Lease(this, std::move(speller));
        }
        if (m_failed)
            return Lease(this, nullptr);
    }
    // Opening takes a few milliseconds: do it outside the lock.
    std::string error;
    std::unique_ptr<Speller> speller = Speller::open(m_language, error);
    std::lock_guard lock(m_mutex);
    if (!speller) {
        m_failed = true;
        m_error = error;
        return Lease(this, nullptr);
    }
    ++m_created;
    return Lease(this, std::move(speller));
}

bool SpellerPool::isAvailable()
{
    return static_cast<bool>(acquire());
}

std::string SpellerPool::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::size_t SpellerPool::created() const
{
    std::lock_guard lock(m_mutex);
    return m_created;
}

void SpellerPool::release(std::unique_ptr<Speller> speller)
{
    std::lock_guard lock(m_mutex);
    m_idle.push_back(std::move(speller));
}

} // namespace Backend
