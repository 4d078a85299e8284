// The settings store: named, typed values (32-bit numbers and texts) under keys such as the
// application key "software\tidecraft\Tidewatch". They live in one file per user,
// $XDG_CONFIG_HOME/tidecraft/Tidewatch.reg (default ~/.config/tidecraft/Tidewatch.reg), written
// in the style of a registry export:
//
//     Tidewatch Registry Export 1
//
//     [software\tidecraft\Tidewatch]
//     "WindowX"=dword:000000aa
//     "Font"="Monospace"
//
// Texts escape \\ and \" (and \n, \r, so that a value never breaks its line). Key paths and
// value names compare without regard to ASCII letter case, as registry names do. Every read goes
// to the file as it is at the time of the call; every write replaces the file atomically, so a
// failed write leaves the previous file intact. A missing or unreadable file is a missing key and
// a malformed line is skipped. No settings operation reports to the error log (the log itself
// reads its settings through here).
#pragma once

#include <cstdint>
#include <string>

#include "framework/str.h"

class StringCollection;

// The application key of every setting the program keeps.
inline constexpr const char* kAppKeyPath = "software\\tidecraft\\Tidewatch";

// Full path of the settings file, from the environment at the time of the call.
std::string SettingsFilePath();
// One of the user's base folders: the environment variable when it holds an absolute path,
// else the home folder ($HOME, else the password database's) and belowHome ("XDG_STATE_HOME",
// "/.local/state").
std::string UserFolder(const char* variable, const char* belowHome);

// Free functions on the application key; none keeps anything open between calls.

// Reads a text value into dest. *size is the buffer size in bytes on entry and the size of the
// text with its terminating zero on return (also when the buffer is too small: then false and
// dest unchanged). False when the key or value is missing or the value is a number.
bool ReadRegString(const char* name, char* dest, uint32_t* size);
// As ReadRegString; when the value cannot be read, dest receives the process's current directory
// instead (empty when even that does not fit). True when the value itself was read.
bool ReadRegStringOrCurrentDir(const char* name, char* dest, uint32_t size);
// The stored number, or defaultValue when the value is missing or is not a number.
uint32_t ReadRegNumber(const char* name, uint32_t defaultValue);
// Store a number or a text, creating the key when missing. True when the file was written.
bool WriteRegNumber(const char* name, uint32_t value);
bool WriteRegString(const char* name, const char* text);

// The one root there is: the settings file above.
enum class RegistryRoot { LocalMachine };

// One key of the store. Every member operation opens the key, works and closes it again, so the
// object holds nothing open between calls.
class RegistryKey {
public:
    RegistryKey(RegistryRoot root, const char* path);
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    virtual ~RegistryKey();

    // True when the key exists (an explicit section, or the parent of one).
    virtual bool OpenRead();
    // Creates the key (and its parents) when missing; false when the file cannot be written.
    virtual bool OpenWrite();
    virtual bool Close();

    // The whole text however long; on failure (key or value missing, value a number) dest gets
    // defaultText and the result is false.
    bool GetString(const char* name, str& dest, const char* defaultText);
    // The stored number, or defaultValue when the key or value is missing. The type is not
    // examined: a text value yields its first four bytes read little-endian, zero padded (the
    // terminating zero pads a shorter text), the way a registry hands back a text's raw bytes.
    uint32_t GetNumber(const char* name, uint32_t defaultValue);
    // True when stored; nothing is done when the key cannot be opened for writing.
    bool SetNumber(const char* name, uint32_t value);
    bool SetString(const char* name, const char* text);
    // Adds the names of the direct subkeys in file order. False, adding nothing, when the key is
    // missing, has no subkeys, or its longest subkey name has 1023 characters or more.
    bool EnumerateSubkeys(StringCollection& names);

    bool IsOpen() const { return open_; }
    const str& Path() const { return path_; }

protected:
    RegistryRoot root_;
    bool open_ = false;  // stands in for the open key handle: the file is read per operation
    str path_;
};

// The application key "software\tidecraft\Tidewatch".
class AppRegKey : public RegistryKey {
public:
    AppRegKey() : RegistryKey(RegistryRoot::LocalMachine, kAppKeyPath) {}
};
