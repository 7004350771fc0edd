#pragma once
// Texts kept by text, as the lookups keep their answers, within two bounds:
// a number of entries and a number of characters (keys and values together).
// An entry that is found or put becomes the newest; when a bound is passed
// the oldest go first. Keys that come from records (an attacker can write
// any number of distinct ones) thus cost at most the bounds, and the entries
// still in use stay.

#include <cstddef>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

class CBoundedCache {
public:
    CBoundedCache(std::size_t maxEntries, std::size_t maxCharacters);
    CBoundedCache(const CBoundedCache&) = delete;
    CBoundedCache& operator=(const CBoundedCache&) = delete;

    // The value kept for key, now the newest entry; null when there is none.
    // Valid until the next Put.
    const std::wstring* Find(std::wstring_view key);
    // Keeps value for key as the newest entry, in place of what key had. An
    // entry over the character bound on its own is not kept.
    void Put(const std::wstring& key, const std::wstring& value);

    std::size_t Size() const { return index_.size(); }
    std::size_t Characters() const { return characters_; }

private:
    using Entry = std::pair<std::wstring, std::wstring>;
    using Position = std::list<Entry>::iterator;

    void Erase(Position entry);

    std::size_t maxEntries_;
    std::size_t maxCharacters_;
    std::size_t characters_ = 0;
    std::list<Entry> entries_;  // newest first; nodes never move, so views of their keys hold
    std::unordered_map<std::wstring_view, Position> index_;
};
