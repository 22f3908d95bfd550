#pragma once
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <vector>

namespace fwprep::app {

// Keeps the user's mouse and key input, and requests to close, away from some
// windows and the controls on them, while leaving them as they look: nothing
// greys out and the focus stays where it was. Windows opened later (a
// progress dialog, a message box) are not affected.
class InputBlock final : public QObject {
    Q_OBJECT
public:
    void block(const std::vector<QWidget*>& windows);
    void unblock();
    bool isBlocking() const { return !blocked_.empty(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<QPointer<QWidget>> blocked_;
};

} // namespace fwprep::app
