#include "framework/gui/ToolBar.h"

#include <QAction>
#include <QToolBar>

#include "resources/Images.h"

ToolBar::ToolBar(QWidget* parent, int bitmapId, const ToolBarButton* buttons, int count,
                 CommandSink onCommand, TooltipSource tooltip)
    : Control(parent) {
    auto* bar = new QToolBar(parent);
    SetHandle(bar);
    bar->setCursor(Qt::ArrowCursor);
    bar->setIconSize(QSize(16, 16));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (int i = 0; i < count; ++i) {
        const ToolBarButton& button = buttons[i];
        if (button.image < 0) {
            bar->addSeparator();
            continue;
        }
        QAction* action = bar->addAction(res::BitmapImage(bitmapId, button.image), QString());
        if (tooltip) action->setToolTip(tooltip(button.command));
        action->setEnabled(button.enabled);
        const int command = button.command;
        QObject::connect(action, &QAction::triggered, bar, [onCommand, command] {
            if (onCommand) onCommand(command);
        });
        buttons_[command] = action;
    }
    bar->show();
}

ToolBar::~ToolBar() { delete handle_.data(); }

void ToolBar::EnableButton(int command) {
    if (QAction* action = Button(command)) action->setEnabled(true);
}

void ToolBar::DisableButton(int command) {
    if (QAction* action = Button(command)) action->setEnabled(false);
}

bool ToolBar::IsButtonEnabled(int command) const {
    const QAction* action = Button(command);
    return action && action->isEnabled();
}

QAction* ToolBar::Button(int command) const {
    auto found = buttons_.find(command);
    return found == buttons_.end() ? nullptr : found->second;
}

int ToolBar::PreferredHeight() const { return handle_ ? handle_->sizeHint().height() : 0; }
