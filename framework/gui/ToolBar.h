// The main window's tool bar: flat buttons with 16x16 images from an image strip, tooltips, and
// buttons that can be greyed.
#pragma once

#include <QString>
#include <functional>
#include <map>

#include "framework/gui/Window.h"

class QAction;
class QToolBar;

struct ToolBarButton {
    int image;    // position in the image strip; -1 for a separator
    int command;  // sent when the button is clicked
    bool enabled;
};

class ToolBar : public Control {
public:
    using CommandSink = std::function<void(int command)>;
    using TooltipSource = std::function<QString(int command)>;

    ToolBar(QWidget* parent, int bitmapId, const ToolBarButton* buttons, int count,
            CommandSink onCommand, TooltipSource tooltip);
    ~ToolBar() override;

    // Enabled buttons send their command; a greyed button is drawn dimmed and ignores clicks.
    void EnableButton(int command);
    void DisableButton(int command);
    bool IsButtonEnabled(int command) const;
    QAction* Button(int command) const;
    int ButtonCount() const { return static_cast<int>(buttons_.size()); }

    int PreferredHeight() const;

private:
    std::map<int, QAction*> buttons_;
};
