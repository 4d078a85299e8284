#include "framework/gui/Dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimerEvent>

#include "framework/gui/IpAddressEdit.h"
#include "resources/DialogTemplates.h"

namespace {

Dialog::RunHook& Hook() {
    static Dialog::RunHook hook;
    return hook;
}

}  // namespace

// The Qt dialog behind a Dialog: closing, Escape and Enter become commands, so the handlers
// decide whether the dialog ends.
class DialogWidget : public QDialog {
public:
    DialogWidget(Dialog& owner, QWidget* parent, Qt::WindowFlags flags)
        : QDialog(parent, flags), owner_(owner) {}

    void Finish(int result) { QDialog::done(result); }

    void accept() override { owner_.OnCommand(kIdOk, 0, nullptr); }
    void reject() override { owner_.OnCommand(kIdCancel, 0, nullptr); }

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::WindowActivate) owner_.OnActivate(true);
        if (event->type() == QEvent::WindowDeactivate) owner_.OnActivate(false);
        return QDialog::event(event);
    }
    void timerEvent(QTimerEvent* event) override {
        auto found = owner_.timers_.find(event->timerId());
        if (found != owner_.timers_.end()) owner_.OnTimer(found->second);
    }
    void resizeEvent(QResizeEvent*) override { owner_.OnResize(0, width(), height()); }

private:
    Dialog& owner_;
};

Dialog::Dialog(int templateId) : templateId_(templateId) {}

Dialog::Dialog(const char* templateName) : templateName_(templateName) {}

Dialog::~Dialog() { delete handle_.data(); }

void Dialog::SetRunHook(RunHook hook) { Hook() = std::move(hook); }

void Dialog::Build(const res::DialogTemplate& t, QWidget* owner) {
    Qt::WindowFlags flags = Qt::Dialog;
    if (t.caption) {
        flags |= Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    } else {
        flags = Qt::SplashScreen | Qt::FramelessWindowHint;
    }
    auto* widget = new DialogWidget(*this, owner, flags);
    SetHandle(widget);
    widget->setWindowTitle(QString::fromUtf8(t.title));
    widget->setModal(true);

    // Dialog units: a quarter of the average width of the letters (rounded up), an eighth of
    // the line height.
    const QFontMetrics metrics = widget->fontMetrics();
    const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const int baseX = std::max((metrics.horizontalAdvance(letters) + 51) / 52, 1);
    const int baseY = std::max(metrics.height(), 1);
    auto place = [&](QWidget* control, const res::DialogItem& item) {
        control->setGeometry(item.x * baseX / 4, item.y * baseY / 8, item.width * baseX / 4,
                             item.height * baseY / 8);
    };

    items_.clear();
    for (const res::DialogItem& item : t.items) {
        QWidget* control = nullptr;
        const QString text = QString::fromUtf8(item.text);
        const int id = item.id;
        switch (item.kind) {
            case res::ItemKind::Static: {
                auto* label = new QLabel(text, widget);
                label->setWordWrap(item.height > 12);  // room for more than one line
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                control = label;
                break;
            }
            case res::ItemKind::Picture: {
                auto* label = new QLabel(widget);
                label->setAlignment(Qt::AlignCenter);
                control = label;
                break;
            }
            case res::ItemKind::Edit:
                control = new QLineEdit(text, widget);
                break;
            case res::ItemKind::PushButton:
            case res::ItemKind::DefaultButton: {
                auto* button = new QPushButton(text, widget);
                button->setAutoDefault(item.kind == res::ItemKind::DefaultButton);
                button->setDefault(item.kind == res::ItemKind::DefaultButton);
                QObject::connect(button, &QPushButton::clicked, widget,
                                 [this, id, button] { OnCommand(id, 0, button); });
                control = button;
                break;
            }
            case res::ItemKind::CheckBox: {
                auto* box = new QCheckBox(text, widget);
                QObject::connect(box, &QCheckBox::clicked, widget,
                                 [this, id, box] { OnCommand(id, 0, box); });
                control = box;
                break;
            }
            case res::ItemKind::IpAddress:
                control = new IpAddressEdit(widget);
                break;
            case res::ItemKind::DropList:
                control = new QComboBox(widget);
                break;
        }
        place(control, item);
        if (id >= 0) items_[id] = control;
    }
    widget->setFixedSize(t.width * baseX / 4, t.height * baseY / 8);
}

int Dialog::Run(QWidget* owner, intptr_t parameter) {
    const res::DialogTemplate* t =
        templateName_ ? res::FindDialogTemplate(templateName_) : res::FindDialogTemplate(templateId_);
    if (!t) return -1;
    parameter_ = parameter;
    ended_ = false;
    result_ = kIdCancel;
    Build(*t, owner);
    OnInitDialog();
    if (Hook()) {
        Hook()(*this);
    } else if (!ended_) {
        static_cast<DialogWidget*>(handle_.data())->exec();
    }
    for (const auto& timer : timers_) handle_->killTimer(timer.first);
    timers_.clear();
    items_.clear();
    delete handle_.data();
    return result_;
}

void Dialog::End(int result) {
    ended_ = true;
    result_ = result;
    if (handle_) static_cast<DialogWidget*>(handle_.data())->Finish(result);
}

QWidget* Dialog::Item(int id) const {
    auto found = items_.find(id);
    return found == items_.end() ? nullptr : found->second;
}

void Dialog::SetItemText(int id, const char* text) {
    QWidget* control = Item(id);
    const QString value = QString::fromUtf8(text ? text : "");
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(value);
    }
}

void Dialog::GetItemText(int id, str& text) const {
    text.Clear();
    QWidget* control = Item(id);
    QString value;
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        value = edit->text();
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        value = label->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        value = button->text();
    }
    text = value.toUtf8().constData();
}

bool Dialog::IsItemChecked(int id) const {
    auto* box = qobject_cast<QAbstractButton*>(Item(id));
    return box && box->isChecked();
}

void Dialog::SetItemChecked(int id, bool checked) {
    if (auto* box = qobject_cast<QAbstractButton*>(Item(id))) box->setChecked(checked);
}

void Dialog::Press(int id) {
    QWidget* control = Item(id);
    if (auto* box = qobject_cast<QCheckBox*>(control)) box->toggle();
    OnCommand(id, 0, control);
}

void Dialog::SetTimer(int timerId, int milliseconds) {
    if (!handle_) return;
    KillTimer(timerId);
    timers_[handle_->startTimer(milliseconds)] = timerId;
}

void Dialog::KillTimer(int timerId) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second == timerId) {
            if (handle_) handle_->killTimer(it->first);
            timers_.erase(it);
            return;
        }
    }
}
