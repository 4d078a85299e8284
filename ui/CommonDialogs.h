// The system's file and font dialogs, each with a hook that answers in their place (tests and
// scripted runs).
#pragma once

#include <QFont>
#include <functional>

#include "files/FileCommands.h"

class QWidget;

// Open or save dialog as the request describes. False when cancelled (or the path is longer
// than both the request's path length and the system's path limit); else path holds the chosen
// file.
bool ShowFileDialog(QWidget* owner, const FileDialogRequest& request, str& path);
using FileDialogHook = std::function<bool(const FileDialogRequest& request, str& path)>;
void SetFileDialogHook(FileDialogHook hook);

// The font dialog, opened on the font given; the chosen one replaces it. False when cancelled.
bool ShowFontDialog(QWidget* owner, QFont& font);
using FontDialogHook = std::function<bool(QFont& font)>;
void SetFontDialogHook(FontDialogHook hook);

// The fixed-pitch font the list and the detail pane use until a font is chosen.
QFont DefaultFixedFont();
// The "Font" setting: the face name, ",", the height in pixels as a signed decimal (negative:
// the character height, as fonts are chosen).
void FontSettingText(const QFont& font, str& text);
// The font a "Font" setting stands for: face and height only, every other attribute at its
// default; no comma or no number keeps the default height. False for an empty setting.
bool FontFromSetting(const char* text, QFont& font);
