// The File menu's Open and Save commands and the main window's may-close check. The window
// supplies the dialogs, message boxes, recent-file handling and the `unsaved` flag through
// FileHost, so that the logic runs (and is tested) without a window.
#pragma once

#include <climits>

#include <cstddef>
#include <cstdint>

#include "files/CaptureFile.h"
#include "framework/str.h"

enum class MessageButtons { Ok, YesNoCancel };
enum class MessageIcon { None, Exclamation, Question };
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct FileFilter {
    const char* text;
    const char* pattern;  // patterns separated by ";"
};

// What a file dialog shows and allows.
struct FileDialogRequest {
    bool save = false;               // a save dialog (asks before overwriting) or an open dialog
                                     // (the path must exist)
    const FileFilter* filters = nullptr;
    size_t filterCount = 0;
    size_t selectedFilter = 0;       // position in filters, from 0
    const char* defaultExtension = "";  // added to a name given without one
    size_t maxPathLength = PATH_MAX;  // bytes, terminator included
    size_t* chosenFilter = nullptr;  // when set, receives the position of the filter left
                                     // selected when the dialog was accepted
};

class FileHost : public LoadHost {
public:
    // Shows the dialog; false when it was cancelled, else path holds the chosen file.
    virtual bool ShowFileDialog(const FileDialogRequest& request, str& path) = 0;
    virtual MessageAnswer ShowMessage(const char* text, MessageButtons buttons,
                                      MessageIcon icon) = 0;
    // The shell's open-by-name: status texts and recent-file list around
    // OpenCaptureFile(path, *this). True when the file was opened.
    virtual bool OpenByName(const char* path) = 0;
    // Makes the path the current file (and window title).
    virtual void SetCurrentFile(const char* path) = 0;
    // Puts the path first in the recent-file list and refreshes the recent-file menu.
    virtual void AddRecentFile(const char* path) = 0;
    // The window's flag: the list holds packets that have not been saved.
    virtual bool Unsaved() const = 0;
    virtual void SetUnsaved(bool unsaved) = 0;
    // Why a save wrote nothing, in one line ("Could not save PATH: reason"); the capture stays
    // unsaved. The window shows it in pane 0.
    virtual void SaveFailed(const char* reason) { (void)reason; }

protected:
    ~FileHost() = default;
};

// File, "&Open...": choose a file, ask QueryReplace, and open it; failure is told in a message
// box.
void OpenCommand(FileHost& host);
// File, "&Save...": choose a file and write the capture to it (stopping a running capture for
// the write) in the format its extension names, else in the one of the filter chosen. True when
// the capture was written.
bool SaveCommand(FileHost& host);
// Asked before the main window closes: about a running capture, then about unsaved packets.
// True to let it close.
bool QueryExit(FileHost& host);
// Asked before a file replaces the capture (Open, a dropped or recent file): Exit's questions
// about a running capture and about unsaved packets, in words of their own. Cancel at the second
// question starts again a capture the first one stopped. True to go on with the open.
bool QueryReplace(FileHost& host);

inline constexpr const char* kAbortCaptureQuestion =
    "Are you sure you want to exit and abort the running capture session?";
inline constexpr const char* kSaveBeforeExitQuestion =
    "The capture has not been saved. Do you want to save the capture before exiting?";
inline constexpr const char* kAbortCaptureForOpenQuestion =
    "Are you sure you want to open a file and abort the running capture session?";
inline constexpr const char* kSaveBeforeOpenQuestion =
    "The capture has not been saved. Do you want to save the capture before opening another "
    "file?";
