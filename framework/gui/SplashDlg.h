// The start-up box: version, build date and the legal notices; it closes itself after 4 seconds.
#pragma once

#include "framework/gui/Dialog.h"

class SplashDlg : public Dialog {
public:
    static constexpr int kTimerId = 1234;
    static constexpr int kShowMilliseconds = 4000;

    SplashDlg();

    // "Version <version> - ( <build date> )"
    static void VersionLine(const VersionInfo& version, str& text);
    // The program's legal notice, a blank line and the version's legal notice.
    static void NoticeText(const VersionInfo& version, str& text);

protected:
    int OnInitDialog() override;
    int OnCommand(int id, int code, QWidget* control) override;
    int OnTimer(int timerId) override;
};

// The About box: the product picture, name and version, and "System &Info".
class AboutDlg : public Dialog {
public:
    // captureRights: 1 held, 0 not held, -1 not known (the owner's administrator check).
    explicit AboutDlg(int captureRights = -1);

    // What "System &Info" shows: kernel, Qt and libpcap versions and the capture rights.
    static void SystemInformation(int captureRights, str& text);

protected:
    int OnInitDialog() override;
    int OnCommand(int id, int code, QWidget* control) override;

private:
    int captureRights_;
};
