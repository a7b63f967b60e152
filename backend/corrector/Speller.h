#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct AspellSpeller;

namespace Backend {

// One GNU Aspell speller. Aspell spellers are not thread-safe: a Speller is used by one thread at
// a time (SpellerPool hands them out).
class Speller {
public:
    ~Speller();
    Speller(const Speller &) = delete;
    Speller &operator=(const Speller &) = delete;

    // Opens the dictionary for `language` (such as "en_US"), ignoring the user's personal Aspell
    // word list so that results do not depend on the account. Returns null and sets `error` when
    // the dictionary is missing.
    static std::unique_ptr<Speller> open(const std::string &language, std::string &error);

    // True when `word` (ASCII) is in the dictionary.
    bool check(std::string_view word);

    // Aspell's suggestions for `word`, best first, at most `limit` of them.
    std::vector<std::string> suggest(std::string_view word, std::size_t limit);

private:
    explicit Speller(AspellSpeller *speller)
        : m_speller(speller)
    {
    }
    AspellSpeller *m_speller;
};

// What the corrector learnt about an unknown word: the costly part of correcting it (Aspell's
// suggestions take about 0.1 ms, the test for a derived word a few dozen look-ups).
struct UnknownWord {
    bool derived = false; // built from a known word ("relicensing"): not a misspelling
    std::vector<std::string> suggestions;
};

// Unknown words met before, shared by every request thread: the same misspellings come back again
// and again. Bounded: when the newer half fills up, the older half is forgotten, so words in use
// stay. Thread-safe.
class WordCache {
public:
    explicit WordCache(std::size_t capacity = 16384)
        : m_halfCapacity(capacity / 2 / kShards + 1)
    {
    }

    // The entry for `lower`, or nothing.
    std::optional<UnknownWord> find(const std::string &lower);
    void insert(const std::string &lower, UnknownWord entry);
    std::size_t size() const;

private:
    static constexpr std::size_t kShards = 8; // fewer threads wait on one lock
    struct Shard {
        mutable std::mutex mutex;
        std::unordered_map<std::string, UnknownWord> newer, older;
    };
    Shard &shardOf(const std::string &lower) { return m_shards[std::hash<std::string> {}(lower) % kShards]; }

    const std::size_t m_halfCapacity;
    Shard m_shards[kShards];
};

// Hands out spellers so that each request thread works with a speller of its own. Spellers are
// created on demand (there are never more than the number of threads correcting at once) and
// reused afterwards. Thread-safe.
class SpellerPool {
public:
    explicit SpellerPool(std::string language);
    ~SpellerPool();

    class Lease {
    public:
        Lease(SpellerPool *pool, std::unique_ptr<Speller> speller)
            : m_pool(pool)
            , m_speller(std::move(speller))
        {
        }
        Lease(Lease &&) = default;
        ~Lease();
        Speller *get() const { return m_speller.get(); }
        explicit operator bool() const { return m_speller != nullptr; }
        Speller *operator->() const { return m_speller.get(); }

    private:
        SpellerPool *m_pool;
        std::unique_ptr<Speller> m_speller;
    };

    // A speller for the calling thread's exclusive use until the lease ends; an empty lease when
    // the dictionary cannot be opened (see `error`).
    Lease acquire();

    // Opens one speller now, to learn early whether the dictionary is available.
    bool isAvailable();
    std::string error() const;

    // How many spellers exist (idle or leased).
    std::size_t created() const;

private:
    void release(std::unique_ptr<Speller> speller);

    const std::string m_language;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<Speller>> m_idle;
    std::size_t m_created = 0;
    bool m_failed = false;
    std::string m_error;
};

} // namespace Backend
