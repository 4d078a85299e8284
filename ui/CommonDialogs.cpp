#include "ui/CommonDialogs.h"

#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

FileDialogHook& FileHook() {
    static FileDialogHook hook;
    return hook;
}

FontDialogHook& FontHook() {
    static FontDialogHook hook;
    return hook;
}

// The dialog's filter string: the text as shown, unless the patterns in its parentheses are
// separated by ";" with blanks, which the dialog would take as part of a pattern; then the
// request's own patterns, separated by blanks, stand in the parentheses.
QString FilterString(const FileFilter& filter) {
    QString text = QString::fromUtf8(filter.text);
    const QString patterns = QString::fromUtf8(filter.pattern).replace(';', ' ');
    const qsizetype open = text.lastIndexOf('(');
    if (open >= 0 && text.mid(open).contains(';')) text = text.left(open + 1) + patterns + ")";
    return text;
}

// The extension a name given without one gets under that filter: the filter's one pattern when it
// is "*.ext", else the request's default.
QString DefaultSuffix(const FileDialogRequest& request, qsizetype filter) {
    if (filter >= 0 && static_cast<size_t>(filter) < request.filterCount) {
        const QString pattern = QString::fromUtf8(request.filters[filter].pattern);
        if (pattern.startsWith("*.") && !pattern.contains(';') && pattern.indexOf('*', 1) < 0) {
            return pattern.mid(2);
        }
    }
    return QString::fromUtf8(request.defaultExtension);
}

}  // namespace

void SetFileDialogHook(FileDialogHook hook) { FileHook() = std::move(hook); }

void SetFontDialogHook(FontDialogHook hook) { FontHook() = std::move(hook); }

bool ShowFileDialog(QWidget* owner, const FileDialogRequest& request, str& path) {
    bool chosen = false;
    if (FileHook()) {
        chosen = FileHook()(request, path);
    } else {
        QFileDialog dialog(owner);
        dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        QStringList filters;
        for (size_t i = 0; i < request.filterCount; ++i) {
            filters << FilterString(request.filters[i]);
        }
        dialog.setNameFilters(filters);
        if (request.selectedFilter < request.filterCount) {
            dialog.selectNameFilter(filters[static_cast<qsizetype>(request.selectedFilter)]);
        }
        dialog.setDefaultSuffix(QString::fromUtf8(request.defaultExtension));
        if (request.save) {
            // A name typed without an extension takes the one of the format chosen.
            QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                             [&](const QString& filter) {
                                 dialog.setDefaultSuffix(
                                     DefaultSuffix(request, filters.indexOf(filter)));
                             });
        }
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = dialog.selectedFiles().front().toUtf8().constData();
            const qsizetype filter = filters.indexOf(dialog.selectedNameFilter());
            if (request.chosenFilter && filter >= 0) {
                *request.chosenFilter = static_cast<size_t>(filter);
            }
            chosen = true;
        }
    }
    // The path buffer holds maxPathLength characters with the terminator, but never fewer than
    // the system's path limit: a request sized for 256 bytes must not refuse a longer Linux
    // path that the system can open.
    const size_t limit = std::max<size_t>(request.maxPathLength, PATH_MAX);
    return chosen && path.Length() < limit;
}

bool ShowFontDialog(QWidget* owner, QFont& font) {
    if (FontHook()) return FontHook()(font);
    bool accepted = false;
    const QFont chosen = QFontDialog::getFont(&accepted, font, owner, QString(),
                                              QFontDialog::FontDialogOptions());
    if (accepted) font = chosen;
    return accepted;
}

QFont DefaultFixedFont() { return QFontDatabase::systemFont(QFontDatabase::FixedFont); }

void FontSettingText(const QFont& font, str& text) {
    int height = font.pixelSize();
    if (height <= 0) {
        // A point size: the pixel height at the screen's 96 dots per logical inch.
        height = static_cast<int>(std::lround(font.pointSizeF() * 96.0 / 72.0));
    }
    text = font.family().toUtf8().constData();
    text += ",";
    text.AppendInt(-height);
}

bool FontFromSetting(const char* text, QFont& font) {
    if (!text || !*text) return false;
    const char* comma = std::strchr(text, ',');
    const std::string face = comma ? std::string(text, comma) : std::string(text);
    const long height = comma ? std::strtol(comma + 1, nullptr, 10) : 0;
    font = QFont(QString::fromUtf8(face.c_str()));
    const QFont standard = DefaultFixedFont();
    if (height != 0) {
        font.setPixelSize(static_cast<int>(std::labs(height)));
    } else if (standard.pixelSize() > 0) {
        font.setPixelSize(standard.pixelSize());
    } else {
        font.setPointSizeF(standard.pointSizeF());
    }
    return true;
}
