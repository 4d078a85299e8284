// "Capture Filter": the capture filter expression, checked as it is typed for the frames of the
// current capture method, with the expressions used last to choose from; and that list, kept in
// the setting "CaptureFilterHistory".
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

inline constexpr const char* kCaptureFilterHistorySetting = "CaptureFilterHistory";
inline constexpr size_t kCaptureFilterHistoryLength = 10;

// The expressions used last, most recent first.
std::vector<std::string> CaptureFilterHistory();
// Puts the expression in front of the list (once); an empty one is not kept, the oldest fall out.
void RememberCaptureFilter(const std::string& expression);

class CaptureFilterDlg : public QDialog {
public:
    CaptureFilterDlg(QWidget* owner, int method, const std::string& expression);

    // Shows the dialog modally; true on OK, with the expression.
    bool Run(std::string& expression);

    // What the expression field holds, and what the dialog makes of it: OK is enabled only for
    // an expression that compiles (or none), and the message says why not.
    std::string Text() const;
    void SetText(const std::string& text);
    bool Valid() const { return valid_; }
    std::string Message() const;
    QComboBox* Expression() const { return combo_; }
    QPushButton* OkButton() const { return ok_; }

    // Replaces the modal loop (tests): Run builds the dialog, then calls the hook, which may type
    // and click; the result is OK only when the OK button accepted the dialog.
    using RunHook = std::function<void(CaptureFilterDlg& dialog)>;
    static void SetRunHook(RunHook hook);

private:
    void Check(const QString& text);

    int method_;
    bool valid_ = true;
    QComboBox* combo_ = nullptr;
    QLabel* message_ = nullptr;
    QPushButton* ok_ = nullptr;
};
