// The status bar of the main window: panes of equal share with a text and an icon each, and
// optionally a progress bar filling one pane.
//
// Its texts are drawn at the largest size of the desktop's font at which the longest capture
// state text fits a pane of the window at its default size; a text that is cut anyway shows
// whole as the pane's tooltip.
#pragma once

#include <QFont>
#include <QIcon>
#include <QString>
#include <vector>

#include "framework/gui/Window.h"

class QProgressBar;
class StatusBarWidget;

class StatusBar : public Control {
public:
    // A progressPane outside 0..panes-1 means no progress bar.
    StatusBar(QWidget* parent, int panes, int progressPane = -1);
    ~StatusBar() override;

    void SetPaneText(int pane, const char* text);
    void SetPaneIcon(int pane, const QIcon& icon);
    void ClearPaneText(int pane);
    void ClearPaneIcon(int pane);

    void SetProgressPosition(int position);
    // Advances by one step; may be called from any thread (the step is carried out by the
    // interface thread).
    void StepProgress();
    void SetProgressRange(int minimum, int maximum);
    void SetProgressStep(int step);
    int ProgressPosition() const { return progressPosition_; }

    int PaneCount() const { return panes_; }
    QString PaneText(int pane) const;
    QIcon PaneIcon(int pane) const;
    // Right edges of the panes as last laid out.
    const std::vector<int>& PaneEdges() const { return edges_; }
    // The height the bar wants.
    int PreferredHeight() const;
    // The pane's whole text when it does not fit the pane, else empty.
    QString CutText(int pane) const;
    // The room for text in the pane as last laid out.
    int TextRoom(int pane) const;
    // The largest size of the font, not above its own and not below 7 pixels, at which the text
    // fits a pane of a bar as wide as the window at its default size.
    QFont FittedFont(const QFont& font, const QString& text) const;

    // Equal shares of the width (integer division), cumulative right edges; the last edge is
    // moved to the right end of the bar's own rectangle.
    static std::vector<int> ComputePaneEdges(int width, int panes, int rightEnd);

    // Lays the panes (and the progress bar) out for the current width.
    void Layout();

private:
    friend class StatusBarWidget;
    StatusBarWidget* Widget() const;

    int panes_;
    int progressPane_;
    int progressPosition_ = 0;
    int progressStep_ = 1;
    QProgressBar* progress_ = nullptr;
    std::vector<int> edges_;
};
