#pragma once
#include <QDialog>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace fwprep::app {

// "Yazılıyor..." with a bar for the bytes read and a button "İptal".
// Closing it (Escape, the window's close control) cancels as the button does.
class ProgressDialog final : public QDialog {
    Q_OBJECT
public:
    explicit ProgressDialog(QWidget* parent = nullptr);

    // Bytes read so far of `total`; a total of 0 (size unknown) shows a busy bar.
    void setProgress(std::uint64_t done, std::uint64_t total);
    QProgressBar* bar() const { return bar_; }
    QPushButton* cancelButton() const { return cancel_; }

signals:
    void cancelRequested();

private:
    QProgressBar* bar_;
    QPushButton* cancel_;
};

} // namespace fwprep::app
