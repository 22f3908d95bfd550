#pragma once
#include <QString>
#include <optional>

#include "job_error.h"
#include "job_params.h"

namespace fwprep::app {

// What a screen tells the user after a job that did not run to its end.
struct ScreenMessage {
    enum class Icon { None, Critical };
    Icon icon = Icon::None;
    QString text;

    bool operator==(const ScreenMessage&) const = default;
};

// The message for a failed job started from the screen of `kind`; none when
// the user cancelled the job.
std::optional<ScreenMessage> messageFor(JobKind kind, const JobError& error);

} // namespace fwprep::app
