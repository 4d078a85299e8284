#include "ui/CaptureFilterDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "drivers/CaptureFilter.h"
#include "framework/Registry.h"

namespace {

CaptureFilterDlg::RunHook runHook;

// The field's background for an expression that compiles and for one that does not.
const QColor kValidColour(0xaf, 0xff, 0xaf);
const QColor kInvalidColour(0xff, 0xaf, 0xaf);

}  // namespace

// One value, the expressions separated by line feeds: a line edit cannot hold one.
std::vector<std::string> CaptureFilterHistory() {
    AppRegKey key;
    str stored;
    key.GetString(kCaptureFilterHistorySetting, stored, "");
    std::vector<std::string> history;
    const std::string text = stored.c_str();
    for (size_t start = 0; start < text.size() && history.size() < kCaptureFilterHistoryLength;) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) history.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return history;
}

void RememberCaptureFilter(const std::string& expression) {
    if (expression.empty() || expression.find('\n') != std::string::npos) return;
    std::vector<std::string> history = CaptureFilterHistory();
    history.erase(std::remove(history.begin(), history.end(), expression), history.end());
    history.insert(history.begin(), expression);
    if (history.size() > kCaptureFilterHistoryLength) history.resize(kCaptureFilterHistoryLength);
    std::string text;
    for (const std::string& entry : history) text += (text.empty() ? "" : "\n") + entry;
    AppRegKey key;
    key.SetString(kCaptureFilterHistorySetting, text.c_str());
}

void CaptureFilterDlg::SetRunHook(RunHook hook) { runHook = std::move(hook); }

CaptureFilterDlg::CaptureFilterDlg(QWidget* owner, int method, const std::string& expression)
    : QDialog(owner), method_(method) {
    setWindowTitle("Capture Filter");
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(
        "&Expression in the libpcap syntax (for example: udp port 53, host 10.0.0.5 and tcp, "
        "not arp). Empty: no filter.",
        this);
    prompt->setWordWrap(true);
    layout->addWidget(prompt);

    combo_ = new QComboBox(this);
    combo_->setObjectName("captureFilterExpression");
    combo_->setEditable(true);
    combo_->setInsertPolicy(QComboBox::NoInsert);
    // Completing inline would check a text the user has not typed.
    combo_->setCompleter(nullptr);
    combo_->setMinimumContentsLength(48);
    combo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const std::string& used : CaptureFilterHistory()) {
        combo_->addItem(QString::fromStdString(used));
    }
    prompt->setBuddy(combo_);
    layout->addWidget(combo_);

    message_ = new QLabel(this);
    message_->setObjectName("captureFilterMessage");
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(message_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (valid_) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(combo_, &QComboBox::editTextChanged, this, [this](const QString& text) { Check(text); });

    SetText(expression);
    Check(combo_->currentText());
    combo_->lineEdit()->selectAll();
    combo_->setFocus();
}

std::string CaptureFilterDlg::Text() const { return combo_->currentText().toStdString(); }

void CaptureFilterDlg::SetText(const std::string& text) {
    combo_->setEditText(QString::fromStdString(text));
}

std::string CaptureFilterDlg::Message() const { return message_->text().toStdString(); }

void CaptureFilterDlg::Check(const QString& text) {
    const std::string expression = text.toStdString();
    const std::string error = CaptureFilter::Check(expression, method_);
    valid_ = error.empty();
    ok_->setEnabled(valid_);
    message_->setText(QString::fromStdString(
        !valid_ ? error : expression.empty() ? "No filter: every frame is captured." : ""));
    QLineEdit* edit = combo_->lineEdit();
    QPalette palette = combo_->palette();
    if (!expression.empty()) palette.setColor(QPalette::Base, valid_ ? kValidColour : kInvalidColour);
    // Dark themes draw light text: the coloured field keeps dark text readable.
    if (!expression.empty()) palette.setColor(QPalette::Text, Qt::black);
    edit->setPalette(palette);
}

bool CaptureFilterDlg::Run(std::string& expression) {
    if (runHook) {
        runHook(*this);
    } else {
        exec();
    }
    if (result() != QDialog::Accepted) return false;
    expression = Text();
    return true;
}
