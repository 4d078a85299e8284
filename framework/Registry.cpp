#include "framework/Registry.h"
#include "framework/Bytes.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "framework/StringCollection.h"

namespace {

constexpr const char* kHeader = "Tidewatch Registry Export 1";
constexpr size_t kMaxSubkeyName = 1023;

// Serialises this process's load-modify-replace cycles, so that two threads never lose each
// other's writes. Other processes only ever see a complete file (it is replaced by rename).
std::mutex storeMutex;

// Registry names fold ASCII letters only, whatever the locale.
bool SameName(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    return std::ranges::equal(a, b, [&](char x, char y) {
        return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
    });
}

bool StartsWithName(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

// A key path that can be written: not empty, no empty component, nothing that breaks a line.
bool ValidKeyPath(std::string_view path) {
    if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
    if (path.find("\\\\") != std::string_view::npos) return false;
    return path.find_first_of("\r\n") == std::string_view::npos;
}

struct RegValue {
    std::string name;
    bool isNumber = false;
    uint32_t number = 0;
    std::string text;
};

struct RegSection {
    std::string path;
    std::vector<RegValue> values;
};

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    out += '"';
}

// Reads a quoted, escaped text starting at line[pos] (the opening quote); on success pos is just
// past the closing quote.
bool ParseQuoted(std::string_view line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out.clear();
    for (size_t i = pos + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == line.size()) return false;
        switch (line[i]) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default: return false;
        }
    }
    return false;  // no closing quote
}

// "Name"=dword:000000aa or "Name"="text", nothing after.
std::optional<RegValue> ParseValueLine(std::string_view line) {
    RegValue value;
    size_t pos = 0;
    if (!ParseQuoted(line, pos, value.name)) return std::nullopt;
    if (pos >= line.size() || line[pos] != '=') return std::nullopt;
    std::string_view data = line.substr(pos + 1);
    constexpr std::string_view kDword = "dword:";
    if (data.starts_with(kDword)) {
        std::string_view digits = data.substr(kDword.size());
        if (digits.empty() || digits.size() > 8) return std::nullopt;
        auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value.number, 16);
        if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
        value.isNumber = true;
        return value;
    }
    size_t textPos = 0;
    if (!ParseQuoted(data, textPos, value.text) || textPos != data.size()) return std::nullopt;
    return value;
}

class SettingsDocument {
public:
    enum class State { Missing, Loaded, Unreadable };

    State Load(const std::string& file) {
        sections_.clear();
        std::ifstream in(file, std::ios::binary);
        if (!in.is_open()) {
            struct stat info;
            bool absent = stat(file.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
            return absent ? State::Missing : State::Unreadable;
        }
        RegSection* current = nullptr;
        std::string line;
        while (std::getline(in, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ' ||
                                     line.back() == '\t')) {
                line.pop_back();
            }
            if (line.empty()) continue;
            if (line.front() == '[') {
                current = nullptr;
                if (line.size() > 2 && line.back() == ']') {
                    current = &SectionFor(std::string_view(line).substr(1, line.size() - 2));
                }
                continue;
            }
            if (current == nullptr) continue;  // the header, or a value outside any key
            if (auto value = ParseValueLine(line)) Put(*current, std::move(*value));
        }
        if (in.bad()) {
            sections_.clear();
            return State::Unreadable;
        }
        return State::Loaded;
    }

    // Writes a temporary file beside the target, flushes it to disk and renames it over the
    // target, so readers see either the old file or the new one, never a partial write.
    bool Save(const std::string& file) const {
        std::error_code ignored;
        std::filesystem::path folder = std::filesystem::path(file).parent_path();
        std::filesystem::create_directories(folder, ignored);
        std::string temp = file + ".XXXXXX";
        int fd = mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) return false;
        std::string text = Serialize();
        bool ok = WriteAll(fd, text) && fsync(fd) == 0;
        ok = (close(fd) == 0) && ok;
        ok = ok && std::rename(temp.c_str(), file.c_str()) == 0;
        if (!ok) {
            unlink(temp.c_str());
            return false;
        }
        // Make the rename itself durable; the file is already complete either way.
        int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            fsync(dir);
            close(dir);
        }
        return true;
    }

    bool KeyExists(std::string_view path) const {
        if (path.empty()) return !sections_.empty();
        return std::ranges::any_of(sections_, [&](const RegSection& s) {
            return SameName(s.path, path) ||
                   (s.path.size() > path.size() && StartsWithName(s.path, path) &&
                    s.path[path.size()] == '\\');
        });
    }

    const RegValue* FindValue(std::string_view path, std::string_view name) const {
        for (const RegSection& section : sections_) {
            if (!SameName(section.path, path)) continue;
            for (const RegValue& value : section.values) {
                if (SameName(value.name, name)) return &value;
            }
        }
        return nullptr;
    }

    void CreateKey(std::string_view path) { SectionFor(path); }

    void SetValue(std::string_view path, RegValue value) { Put(SectionFor(path), std::move(value)); }

    // Direct subkeys in file order: explicit sections one level down, and the first component of
    // deeper sections (their parents exist implicitly).
    std::vector<std::string> Subkeys(std::string_view path) const {
        std::string prefix(path);
        if (!prefix.empty()) prefix += '\\';
        std::vector<std::string> names;
        for (const RegSection& section : sections_) {
            if (section.path.size() <= prefix.size() || !StartsWithName(section.path, prefix)) {
                continue;
            }
            std::string_view rest = std::string_view(section.path).substr(prefix.size());
            std::string_view name = rest.substr(0, rest.find('\\'));
            if (name.empty()) continue;
            if (std::ranges::none_of(names, [&](const std::string& n) { return SameName(n, name); })) {
                names.emplace_back(name);
            }
        }
        return names;
    }

private:
    RegSection& SectionFor(std::string_view path) {
        for (RegSection& section : sections_) {
            if (SameName(section.path, path)) return section;
        }
        sections_.push_back(RegSection{std::string(path), {}});
        return sections_.back();
    }

    // A later value of the same name replaces the earlier one; the stored name keeps its case.
    static void Put(RegSection& section, RegValue value) {
        for (RegValue& existing : section.values) {
            if (SameName(existing.name, value.name)) {
                value.name = std::move(existing.name);
                existing = std::move(value);
                return;
            }
        }
        section.values.push_back(std::move(value));
    }

    std::string Serialize() const {
        std::string out = kHeader;
        out += "\n\n";
        for (const RegSection& section : sections_) {
            out += '[';
            out += section.path;
            out += "]\n";
            for (const RegValue& value : section.values) {
                AppendQuoted(out, value.name);
                out += '=';
                if (value.isNumber) {
                    char digits[16];
                    std::snprintf(digits, sizeof digits, "dword:%08x", value.number);
                    out += digits;
                } else {
                    AppendQuoted(out, value.text);
                }
                out += '\n';
            }
            out += '\n';
        }
        return out;
    }

    static bool WriteAll(int fd, std::string_view text) {
        while (!text.empty()) {
            ssize_t written = write(fd, text.data(), text.size());
            if (written < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (written == 0) return false;
            text.remove_prefix(static_cast<size_t>(written));
        }
        return true;
    }

    std::vector<RegSection> sections_;
};

std::optional<RegValue> LookupValue(std::string_view path, const char* name) {
    std::lock_guard lock(storeMutex);
    SettingsDocument document;
    if (document.Load(SettingsFilePath()) != SettingsDocument::State::Loaded) return std::nullopt;
    const RegValue* value = document.FindValue(path, name ? name : "");
    if (value == nullptr) return std::nullopt;
    return *value;
}

// Load, change, replace. An existing file that cannot be read is never replaced, so a transient
// read failure cannot wipe the user's settings.
bool StoreValue(std::string_view path, RegValue value) {
    if (!ValidKeyPath(path)) return false;
    std::lock_guard lock(storeMutex);
    std::string file = SettingsFilePath();
    SettingsDocument document;
    const SettingsDocument::State state = document.Load(file);
    if (state == SettingsDocument::State::Unreadable) return false;
    // Rewriting a file with the value it already holds costs two flushes to disk: the drivers
    // store their interface at every close, and it has seldom changed.
    const RegValue* stored = state == SettingsDocument::State::Loaded
                                 ? document.FindValue(path, value.name)
                                 : nullptr;
    if (stored && stored->isNumber == value.isNumber && stored->number == value.number &&
        stored->text == value.text) {
        return true;
    }
    document.SetValue(path, std::move(value));
    return document.Save(file);
}

RegValue NumberValue(const char* name, uint32_t number) {
    RegValue value;
    value.name = name ? name : "";
    value.isNumber = true;
    value.number = number;
    return value;
}

RegValue TextValue(const char* name, const char* text) {
    RegValue value;
    value.name = name ? name : "";
    value.text = text ? text : "";
    return value;
}

}  // namespace

// $HOME, else the password database's; empty when neither has one.
static std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) {
        return found->pw_dir;
    }
    return {};
}

std::string UserFolder(const char* variable, const char* belowHome) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;  // a relative value is to be ignored
    return HomeFolder() + belowHome;
}

std::string SettingsFilePath() {
    return UserFolder("XDG_CONFIG_HOME", "/.config") + "/tidecraft/Tidewatch.reg";
}

bool ReadRegString(const char* name, char* dest, uint32_t* size) {
    if (size == nullptr) return false;
    std::optional<RegValue> value = LookupValue(kAppKeyPath, name);
    if (!value || value->isNumber) return false;
    uint64_t needed = value->text.size() + 1;
    if (needed > UINT32_MAX) return false;
    bool fits = dest != nullptr && needed <= *size;
    *size = static_cast<uint32_t>(needed);
    if (!fits) return false;
    std::memcpy(dest, value->text.c_str(), needed);
    return true;
}

bool ReadRegStringOrCurrentDir(const char* name, char* dest, uint32_t size) {
    if (dest == nullptr || size == 0) return false;
    uint32_t inOut = size;
    if (ReadRegString(name, dest, &inOut)) return true;
    if (getcwd(dest, size) == nullptr) dest[0] = '\0';
    return false;
}

uint32_t ReadRegNumber(const char* name, uint32_t defaultValue) {
    std::optional<RegValue> value = LookupValue(kAppKeyPath, name);
    return value && value->isNumber ? value->number : defaultValue;
}

bool WriteRegNumber(const char* name, uint32_t value) {
    return StoreValue(kAppKeyPath, NumberValue(name, value));
}

bool WriteRegString(const char* name, const char* text) {
    return StoreValue(kAppKeyPath, TextValue(name, text));
}

RegistryKey::RegistryKey(RegistryRoot root, const char* path)
    : root_(root), path_(path ? path : "") {}

RegistryKey::~RegistryKey() { RegistryKey::Close(); }

bool RegistryKey::OpenRead() {
    std::lock_guard lock(storeMutex);
    SettingsDocument document;
    open_ = document.Load(SettingsFilePath()) == SettingsDocument::State::Loaded &&
            document.KeyExists(path_.c_str());
    return open_;
}

bool RegistryKey::OpenWrite() {
    open_ = false;
    if (!ValidKeyPath(path_.c_str())) return false;
    std::lock_guard lock(storeMutex);
    std::string file = SettingsFilePath();
    SettingsDocument document;
    SettingsDocument::State state = document.Load(file);
    if (state == SettingsDocument::State::Unreadable) return false;
    if (state == SettingsDocument::State::Loaded && document.KeyExists(path_.c_str())) {
        open_ = true;
    } else {
        document.CreateKey(path_.c_str());
        open_ = document.Save(file);
    }
    return open_;
}

bool RegistryKey::Close() {
    open_ = false;
    return true;
}

bool RegistryKey::GetString(const char* name, str& dest, const char* defaultText) {
    std::optional<RegValue> value;
    if (OpenRead()) {
        value = LookupValue(path_.c_str(), name);
        Close();
    }
    if (!value || value->isNumber) {
        dest = defaultText ? defaultText : "";
        return false;
    }
    // The assignment grows dest to whatever the text needs.
    dest = value->text.c_str();
    return true;
}

uint32_t RegistryKey::GetNumber(const char* name, uint32_t defaultValue) {
    std::optional<RegValue> value;
    if (OpenRead()) {
        value = LookupValue(path_.c_str(), name);
        Close();
    }
    if (!value) return defaultValue;
    if (value->isNumber) return value->number;
    uint8_t first[4] = {};
    std::memcpy(first, value->text.data(), std::min<size_t>(value->text.size(), sizeof first));
    return bytes::LoadLe32(first);
}

bool RegistryKey::SetNumber(const char* name, uint32_t value) {
    if (!OpenWrite()) return false;
    bool stored = StoreValue(path_.c_str(), NumberValue(name, value));
    Close();
    return stored;
}

bool RegistryKey::SetString(const char* name, const char* text) {
    if (!OpenWrite()) return false;
    bool stored = StoreValue(path_.c_str(), TextValue(name, text));
    Close();
    return stored;
}

bool RegistryKey::EnumerateSubkeys(StringCollection& names) {
    if (!OpenRead()) return false;
    std::vector<std::string> subkeys;
    {
        std::lock_guard lock(storeMutex);
        SettingsDocument document;
        if (document.Load(SettingsFilePath()) == SettingsDocument::State::Loaded) {
            subkeys = document.Subkeys(path_.c_str());
        }
    }
    Close();
    if (subkeys.empty()) return false;
    auto longest = std::ranges::max(subkeys, {}, &std::string::size).size();
    if (longest >= kMaxSubkeyName) return false;
    for (const std::string& subkey : subkeys) names.Add(subkey.c_str());
    return true;
}
