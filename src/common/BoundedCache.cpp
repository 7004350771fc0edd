#include "common/BoundedCache.h"

namespace {

std::size_t CharactersOf(const std::wstring& key, const std::wstring& value) {
    return key.size() + value.size();
}

}  // namespace

CBoundedCache::CBoundedCache(std::size_t maxEntries, std::size_t maxCharacters)
    : maxEntries_(maxEntries), maxCharacters_(maxCharacters) {}

const std::wstring* CBoundedCache::Find(std::wstring_view key) {
    auto found = index_.find(key);
    if (found == index_.end()) return nullptr;
    entries_.splice(entries_.begin(), entries_, found->second);
    return &found->second->second;
}

void CBoundedCache::Put(const std::wstring& key, const std::wstring& value) {
    if (auto found = index_.find(key); found != index_.end()) Erase(found->second);
    const std::size_t size = CharactersOf(key, value);
    if (size > maxCharacters_ || maxEntries_ == 0) return;
    entries_.emplace_front(key, value);
    try {
        index_.emplace(entries_.front().first, entries_.begin());
    } catch (...) {
        entries_.pop_front();
        throw;
    }
    characters_ += size;
    while (index_.size() > maxEntries_ || characters_ > maxCharacters_)
        Erase(std::prev(entries_.end()));
}

void CBoundedCache::Erase(Position entry) {
    characters_ -= CharactersOf(entry->first, entry->second);
    index_.erase(entry->first);
    entries_.erase(entry);
}
