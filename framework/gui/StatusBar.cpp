#include "framework/gui/StatusBar.h"

#include <QHelpEvent>
#include <QMetaObject>
#include <QPainter>
#include <QProgressBar>
#include <QSizeGrip>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>

#include "framework/gui/AppMainWindow.h"

namespace {

struct Pane {
    QString text;
    QIcon icon;
};

// The longest text the bar shows in everyday use: a capture state in its pane.
constexpr const char* kLongestEverydayText = "  Not Capturing (Network Monitor Packet Provider)";
constexpr int kSmallestPixelSize = 7;
constexpr int kIconSize = 16;

// Where a pane's text goes: its rectangle less the frame, the margins and the icon.
QRect TextRect(QRect pane, bool icon) {
    QRect inner = pane.adjusted(3, 1, -3, -1);
    if (icon) inner.setLeft(inner.left() + kIconSize + 4);
    return inner;
}

}  // namespace

// The drawn bar: sunken panes with an icon and a text, and a size grip at the right end.
class StatusBarWidget : public QWidget {
public:
    StatusBarWidget(StatusBar& owner, QWidget* parent, int panes)
        : QWidget(parent), owner_(owner), panes_(static_cast<size_t>(panes)) {
        setCursor(Qt::ArrowCursor);
        grip_ = new QSizeGrip(this);
    }

    std::vector<Pane>& Panes() { return panes_; }

    QRect PaneRect(int pane) const {
        const std::vector<int>& edges = owner_.PaneEdges();
        if (pane < 0 || static_cast<size_t>(pane) >= edges.size()) return {};
        const int left = pane == 0 ? 0 : edges[static_cast<size_t>(pane) - 1];
        return QRect(left, 2, edges[static_cast<size_t>(pane)] - left - 2, height() - 3);
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::ToolTip) return QWidget::event(event);
        const auto* help = static_cast<QHelpEvent*>(event);
        for (int pane = 0; pane < static_cast<int>(panes_.size()); ++pane) {
            const QString text = owner_.CutText(pane);
            if (PaneRect(pane).contains(help->pos()) && !text.isEmpty()) {
                QToolTip::showText(help->globalPos(), text, this, PaneRect(pane));
                return true;
            }
        }
        QToolTip::hideText();
        return true;
    }

    void resizeEvent(QResizeEvent*) override {
        // Every resize lays the panes out again (a minimised window is not resized in Qt).
        owner_.Layout();
        const QSize grip = grip_->sizeHint();
        grip_->setGeometry(width() - grip.width(), height() - grip.height(), grip.width(),
                           grip.height());
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const std::vector<int>& edges = owner_.PaneEdges();
        const int iconSize = kIconSize;
        for (size_t i = 0; i < panes_.size() && i < edges.size(); ++i) {
            const QRect pane = PaneRect(static_cast<int>(i));
            painter.setPen(palette().color(QPalette::Mid));
            painter.drawLine(pane.topLeft(), pane.topRight());
            painter.drawLine(pane.topLeft(), pane.bottomLeft());
            painter.setPen(palette().color(QPalette::Light));
            painter.drawLine(pane.bottomLeft(), pane.bottomRight());
            painter.drawLine(pane.topRight(), pane.bottomRight());
            const QRect inner = TextRect(pane, !panes_[i].icon.isNull());
            if (!panes_[i].icon.isNull()) {
                const int top = inner.top() + (inner.height() - iconSize) / 2;
                panes_[i].icon.paint(&painter, inner.left() - iconSize - 4, top, iconSize,
                                     iconSize);
            }
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(inner, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                             painter.fontMetrics().elidedText(panes_[i].text, Qt::ElideRight,
                                                              inner.width()));
        }
    }

private:
    StatusBar& owner_;
    std::vector<Pane> panes_;
    QSizeGrip* grip_;
};

StatusBar::StatusBar(QWidget* parent, int panes, int progressPane)
    : Control(parent), panes_(panes > 0 ? panes : 1), progressPane_(progressPane) {
    auto* widget = new StatusBarWidget(*this, parent, panes_);
    SetHandle(widget);
    widget->setFont(FittedFont(widget->font(), QString::fromLatin1(kLongestEverydayText)));
    if (progressPane_ >= 0 && progressPane_ < panes_) {
        progress_ = new QProgressBar(widget);
        progress_->setTextVisible(false);
        progress_->setRange(0, 100);
        progress_->setValue(0);
    }
    widget->resize(parent ? parent->width() : 0, PreferredHeight());
    widget->show();
    Layout();
}

StatusBar::~StatusBar() { delete handle_.data(); }

StatusBarWidget* StatusBar::Widget() const { return static_cast<StatusBarWidget*>(handle_.data()); }

std::vector<int> StatusBar::ComputePaneEdges(int width, int panes, int rightEnd) {
    std::vector<int> edges;
    if (panes <= 0) return edges;
    const int share = width / panes;
    for (int i = 0; i < panes; ++i) edges.push_back(share * (i + 1));
    edges.back() = rightEnd;
    return edges;
}

void StatusBar::Layout() {
    StatusBarWidget* widget = Widget();
    if (!widget) return;
    edges_ = ComputePaneEdges(widget->width(), panes_, widget->rect().right() + 1);
    if (progress_) {
        const int left = progressPane_ == 0 ? 0 : edges_[progressPane_ - 1];
        progress_->setGeometry(left + 2, 3, edges_[progressPane_] - left - 5, widget->height() - 5);
    }
    widget->update();
}

QFont StatusBar::FittedFont(const QFont& font, const QString& text) const {
    const std::vector<int> edges =
        ComputePaneEdges(AppMainWindow::kDefaultWidth, panes_, AppMainWindow::kDefaultWidth);
    const int room = TextRect(QRect(0, 0, edges.front() - 2, 1), false).width();
    const int own = QFontInfo(font).pixelSize();
    QFont fitted = font;
    for (int size = own; size >= kSmallestPixelSize; --size) {
        fitted.setPixelSize(size);
        if (QFontMetrics(fitted).horizontalAdvance(text) <= room) {
            return size == own ? font : fitted;
        }
    }
    return fitted;
}

int StatusBar::TextRoom(int pane) const {
    StatusBarWidget* widget = Widget();
    if (!widget || pane < 0 || pane >= panes_) return 0;
    return TextRect(widget->PaneRect(pane), !widget->Panes()[pane].icon.isNull()).width();
}

QString StatusBar::CutText(int pane) const {
    StatusBarWidget* widget = Widget();
    if (!widget || pane < 0 || pane >= panes_) return {};
    const QString& text = widget->Panes()[pane].text;
    return widget->fontMetrics().horizontalAdvance(text) > TextRoom(pane) ? text : QString();
}

int StatusBar::PreferredHeight() const {
    const QWidget* widget = handle_;
    const int text = widget ? widget->fontMetrics().height() : 14;
    return std::max(text, 16) + 8;
}

void StatusBar::SetPaneText(int pane, const char* text) {
    StatusBarWidget* widget = Widget();
    if (!widget || pane < 0 || pane >= panes_) return;
    widget->Panes()[pane].text = QString::fromUtf8(text ? text : "");
    widget->update();
}

void StatusBar::SetPaneIcon(int pane, const QIcon& icon) {
    StatusBarWidget* widget = Widget();
    if (!widget || pane < 0 || pane >= panes_) return;
    widget->Panes()[pane].icon = icon;
    widget->update();
}

void StatusBar::ClearPaneText(int pane) { SetPaneText(pane, ""); }

void StatusBar::ClearPaneIcon(int pane) { SetPaneIcon(pane, QIcon()); }

QString StatusBar::PaneText(int pane) const {
    StatusBarWidget* widget = Widget();
    if (!widget || pane < 0 || pane >= panes_) return {};
    return widget->Panes()[pane].text;
}

QIcon StatusBar::PaneIcon(int pane) const {
    StatusBarWidget* widget = Widget();
    if (!widget || pane < 0 || pane >= panes_) return {};
    return widget->Panes()[pane].icon;
}

void StatusBar::SetProgressPosition(int position) {
    progressPosition_ = position;
    if (progress_) progress_->setValue(position);
}

void StatusBar::StepProgress() {
    QWidget* widget = handle_;
    if (!widget) return;
    QMetaObject::invokeMethod(
        widget, [this] { SetProgressPosition(progressPosition_ + progressStep_); },
        Qt::QueuedConnection);
}

void StatusBar::SetProgressRange(int minimum, int maximum) {
    if (progress_) progress_->setRange(minimum, maximum);
}

void StatusBar::SetProgressStep(int step) { progressStep_ = step; }
