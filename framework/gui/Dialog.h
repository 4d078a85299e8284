// A modal dialog built from a dialog template; its events go to overridable handlers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "framework/gui/Window.h"

class DialogWidget;

namespace res {
struct DialogTemplate;
}

class Dialog : public Window {
public:
    explicit Dialog(int templateId);
    explicit Dialog(const char* templateName);
    ~Dialog() override;

    // Shows the dialog modally over owner; the result is the value given to End. A dialog
    // whose template is missing returns -1 at once.
    int Run(QWidget* owner, intptr_t parameter = 0);
    void End(int result);

    // The control with that id (null when there is none or the dialog is not running).
    QWidget* Item(int id) const;
    void SetItemText(int id, const char* text);
    void GetItemText(int id, str& text) const;
    bool IsItemChecked(int id) const;
    void SetItemChecked(int id, bool checked);

    // Acts as if the user pressed the button (or check box) with that id.
    void Press(int id);

    // Replaces the modal loop (tests and scripted runs): Run builds and initialises the dialog,
    // then calls the hook, which may set texts and Press buttons; the result is then what End
    // was given, or kIdCancel when nothing ended the dialog.
    using RunHook = std::function<void(Dialog& dialog)>;
    static void SetRunHook(RunHook hook);

    intptr_t Parameter() const { return parameter_; }
    bool IsRunning() const { return handle_ != nullptr; }

protected:
    friend class DialogWidget;

    // The handlers, with their defaults. A dialog that does not handle OnCommand cannot be
    // closed by its buttons.
    virtual int OnInitDialog() { return 0; }
    virtual int OnCommand(int id, int code, QWidget* control) { return 0; }
    virtual int OnActivate(bool active) { return 0; }
    virtual int OnTimer(int timerId) { return 0; }
    virtual void OnResize(int type, int width, int height) {}

    // A timer that calls OnTimer(timerId) every milliseconds until killed.
    void SetTimer(int timerId, int milliseconds);
    void KillTimer(int timerId);

private:
    void Build(const res::DialogTemplate& dialogTemplate, QWidget* owner);

    int templateId_ = 0;
    const char* templateName_ = nullptr;
    intptr_t parameter_ = 0;
    bool ended_ = false;
    int result_ = 0;
    std::map<int, QWidget*> items_;
    std::map<int, int> timers_;  // Qt timer id -> the dialog's timer id
};
