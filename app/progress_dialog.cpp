#include "progress_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "captions.h"

namespace fwprep::app {

namespace {
constexpr int kSteps = 1000;
}

ProgressDialog::ProgressDialog(QWidget* parent)
    : QDialog(parent)
    , bar_(new QProgressBar(this))
    , cancel_(new QPushButton(text::cancel(), this))
{
    setObjectName(QStringLiteral("progressDialog"));
    setWindowTitle(text::appName());
    setWindowModality(Qt::ApplicationModal);

    auto* label = new QLabel(text::writing(), this);
    label->setTextFormat(Qt::PlainText);
    bar_->setObjectName(QStringLiteral("progressBar"));
    bar_->setRange(0, kSteps);
    bar_->setValue(0);
    cancel_->setObjectName(QStringLiteral("cancelButton"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(bar_);
    layout->addLayout(buttons);
    setMinimumWidth(300);

    connect(cancel_, &QPushButton::clicked, this, [this] {
        cancel_->setEnabled(false);
        emit cancelRequested();
    });
    connect(this, &QDialog::rejected, this, &ProgressDialog::cancelRequested);
}

void ProgressDialog::setProgress(std::uint64_t done, std::uint64_t total)
{
    if (total == 0) {
        bar_->setRange(0, 0);
        return;
    }
    bar_->setRange(0, kSteps);
    const std::uint64_t clamped = done < total ? done : total;
    bar_->setValue(static_cast<int>(static_cast<double>(clamped) / static_cast<double>(total) * kSteps));
}

} // namespace fwprep::app
