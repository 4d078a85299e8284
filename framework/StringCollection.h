// An indexed list of owned strings (recent files, adapter names, enumerated settings keys).
// Entries keep their insertion order; a unique collection hands back the index of an entry that
// is already present instead of adding it twice.
#pragma once

#include <string>
#include <vector>

class StringCollection {
public:
    explicit StringCollection(bool unique = true, bool caseSensitive = false)
        : unique_(unique), caseSensitive_(caseSensitive) {}
    StringCollection(const StringCollection&) = default;
    StringCollection(StringCollection&&) = default;
    StringCollection& operator=(const StringCollection&) = default;
    StringCollection& operator=(StringCollection&&) = default;
    virtual ~StringCollection() = default;

    // Index of the new (or, when unique, the existing) entry; -1 for a null or empty text.
    int Add(const char* text);
    // True when present; the index of the first match goes to *index when given.
    bool Find(const char* text, int* index = nullptr) const;
    // Null when the index is out of range.
    const char* Get(int index) const;
    // Later entries move down by one; false (nothing changes) when the index is out of range.
    bool Remove(int index);
    void RemoveAll();
    int Count() const { return static_cast<int>(entries_.size()); }

    bool IsUnique() const { return unique_; }
    bool IsCaseSensitive() const { return caseSensitive_; }
    void SetUnique(bool unique) { unique_ = unique; }
    void SetCaseSensitive(bool caseSensitive) { caseSensitive_ = caseSensitive; }

    // Set by every add and remove that changes the collection; cleared only by the owner.
    bool IsModified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }

private:
    bool unique_;
    bool caseSensitive_;
    bool modified_ = false;
    std::vector<std::string> entries_;
};
