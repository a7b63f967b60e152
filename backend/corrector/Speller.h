#pragma once

#include <memory>
#include <mutex>
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

    // The same, remembered: the same misspellings come back again and again. The memory is
    // bounded (forgotten when it passes a few thousand words).
    const std::vector<std::string> &suggestRemembered(const std::string &word, std::size_t limit);

private:
    explicit Speller(AspellSpeller *speller) : m_speller(speller) {}
    AspellSpeller *m_speller;
    std::unordered_map<std::string, std::vector<std::string>> m_remembered;
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
        Lease(SpellerPool *pool, std::unique_ptr<Speller> speller) : m_pool(pool), m_speller(std::move(speller)) {}
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
