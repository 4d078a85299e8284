#include "framework/StringCollection.h"

#include <strings.h>

#include <cstring>

int StringCollection::Add(const char* text) {
    if (text == nullptr || *text == '\0') return -1;
    int existing = -1;
    if (unique_ && Find(text, &existing)) return existing;
    entries_.emplace_back(text);
    modified_ = true;
    return Count() - 1;
}

bool StringCollection::Find(const char* text, int* index) const {
    if (text == nullptr) return false;
    for (size_t i = 0; i < entries_.size(); ++i) {
        // strcasecmp folds case by the process locale, as the user sees letters.
        int difference = caseSensitive_ ? std::strcmp(entries_[i].c_str(), text)
                                        : strcasecmp(entries_[i].c_str(), text);
        if (difference == 0) {
            if (index) *index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

const char* StringCollection::Get(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return entries_[static_cast<size_t>(index)].c_str();
}

bool StringCollection::Remove(int index) {
    if (index < 0 || index >= Count()) return false;
    entries_.erase(entries_.begin() + index);
    modified_ = true;
    return true;
}

void StringCollection::RemoveAll() {
    if (entries_.empty()) return;
    entries_.clear();
    modified_ = true;
}
