// The framework's window objects: each owns (or wraps) one Qt widget and forwards to virtual
// operations. Window is the base of every framework window, Control of the child controls.
#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>

#include "framework/str.h"

// The module's version information, as a version resource would give it.
struct VersionInfo {
    str productName;
    str version;         // "%i.%i.%i.%i"
    str companyName;
    str legalCopyright;
};

// The program's own version information (built in).
const VersionInfo& ModuleVersion();

// Message box flags, in the bit layout of the classic message box: the low nibble the buttons,
// the next the icon.
enum MessageBoxFlags : unsigned {
    kMbOk = 0x00,
    kMbOkCancel = 0x01,
    kMbYesNoCancel = 0x03,
    kMbYesNo = 0x04,
    kMbButtonMask = 0x0f,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconExclamation = 0x30,
    kMbIconInformation = 0x40,
    kMbIconMask = 0xf0,
};

// What a message box returns: the button pressed.
enum MessageBoxResult : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// Answers message boxes instead of showing them (tests and scripted runs). Gets the text, the
// caption and the flags; returns the button.
using MessageBoxHook = std::function<int(const char* text, const char* caption, unsigned flags)>;
void SetMessageBoxHook(MessageBoxHook hook);

class Window {
public:
    Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    virtual void SetText(const char* text);
    virtual ~Window();
    virtual void GetText(str& text) const;

    QWidget* Handle() const { return handle_; }
    const VersionInfo& Version() const { return version_; }

    void Show();
    void Hide();
    void Update();
    QRect WindowRect() const;
    int Height() const;

    // The text of a string-table entry (at most 2048 characters).
    static void LoadString(int id, str& text);

    // Shows a message box over this window and returns the button pressed. An error, question
    // or information icon also reports the text to the error log (level 3 for the error icon,
    // 4 for the others). Without a window nothing is shown and the answer is OK. Without a
    // caption the caption is "<window text> - <product>" for a child window with a text, else
    // the product name.
    int MessageBox(const char* text, const char* caption = nullptr, unsigned flags = kMbOk);

protected:
    void SetHandle(QWidget* widget) { handle_ = widget; }

    VersionInfo version_;
    QPointer<QWidget> handle_;
};

// A child control of a framework window.
class Control : public Window {
public:
    explicit Control(QWidget* parent) : parent_(parent) {}
    // Copies the control's selection to the clipboard, as the control itself understands it.
    virtual void Copy();

    QWidget* Parent() const { return parent_; }

protected:
    QPointer<QWidget> parent_;
};
