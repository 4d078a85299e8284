#include "framework/gui/Window.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <cstring>

#include "framework/ErrorLog.h"
#include "resources/Resources.h"

#ifndef TW_VERSION_NUMBERS
#define TW_VERSION_NUMBERS 0, 0, 0, 0
#endif

namespace {

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

VersionInfo MakeVersion() {
    const int numbers[4] = {TW_VERSION_NUMBERS};
    VersionInfo info;
    info.productName = "Tidewatch";
    info.version.AppendFormat("%i.%i.%i.%i", numbers[0], numbers[1], numbers[2], numbers[3]);
    info.companyName = "Tidecraft";
    info.legalCopyright = "Copyright (C) Tidecraft. Tidewatch is free to use, copy and change.";
    return info;
}

int ShowMessageBox(QWidget* parent, const char* text, const char* caption, unsigned flags) {
    QMessageBox box(parent);
    box.setWindowTitle(QString::fromUtf8(caption));
    box.setText(QString::fromUtf8(text));
    switch (flags & kMbIconMask) {
        case kMbIconError: box.setIcon(QMessageBox::Critical); break;
        case kMbIconQuestion: box.setIcon(QMessageBox::Question); break;
        case kMbIconExclamation: box.setIcon(QMessageBox::Warning); break;
        case kMbIconInformation: box.setIcon(QMessageBox::Information); break;
        default: box.setIcon(QMessageBox::NoIcon); break;
    }
    switch (flags & kMbButtonMask) {
        case kMbOkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case kMbYesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
        case kMbYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes: return kIdYes;
        case QMessageBox::No: return kIdNo;
        case QMessageBox::Cancel: return kIdCancel;
        default: return kIdOk;
    }
}

}  // namespace

const VersionInfo& ModuleVersion() {
    static const VersionInfo info = MakeVersion();
    return info;
}

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

Window::Window() : version_(ModuleVersion()) {}

Window::~Window() = default;

void Window::SetText(const char* text) {
    if (handle_) handle_->setWindowTitle(QString::fromUtf8(text));
}

void Window::GetText(str& text) const {
    text.Clear();
    if (handle_) text = handle_->windowTitle().toUtf8().constData();
}

void Window::Show() {
    if (handle_) handle_->show();
}

void Window::Hide() {
    if (handle_) handle_->hide();
}

void Window::Update() {
    if (handle_) handle_->update();
}

QRect Window::WindowRect() const { return handle_ ? handle_->frameGeometry() : QRect(); }

int Window::Height() const { return WindowRect().height(); }

void Window::LoadString(int id, str& text) {
    text.Assign(res::String(id), 2048);
}

int Window::MessageBox(const char* text, const char* caption, unsigned flags) {
    if (text == nullptr) text = "";
    // Boxes that tell of an error, ask or inform leave a trace in the log; warnings do not.
    switch (flags & kMbIconMask) {
        case kMbIconError: Report(nullptr, 0, text, 3); break;
        case kMbIconQuestion:
        case kMbIconInformation: Report(nullptr, 0, text, 4); break;
        default: break;
    }
    if (!handle_) return kIdOk;

    str title;
    if (caption) {
        title = caption;
    } else {
        str own;
        GetText(own);
        if (handle_->parentWidget() && !own.Empty()) {
            title = own;
            title += " - ";
        }
        title += version_.productName;
    }
    if (Hook()) return Hook()(text, title.c_str(), flags);
    return ShowMessageBox(handle_, text, title.c_str(), flags);
}

void Control::Copy() {
    if (handle_) QMetaObject::invokeMethod(handle_, "copy");
}
