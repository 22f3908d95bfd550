#pragma once
#include "messages.h"

class QWidget;

namespace fwprep::app {

// Shows a screen's message to the user and returns when it has been seen.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    virtual void present(QWidget* screen, const ScreenMessage& message) = 0;
};

// An application-modal message box titled "fwprep" with an OK button only.
class MessageBoxPresenter final : public MessagePresenter {
public:
    void present(QWidget* screen, const ScreenMessage& message) override;
};

} // namespace fwprep::app
