#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace fwprep {

// The three fields of a screen.
enum class Field { Count, Width, Name };

// Why a job did not run to its end. The front ends turn it into words.
struct JobError {
    enum class Kind {
        EmptyField,       // one of the fields holds no text
        BadNumber,        // `field` holds `text`, which is no integer in -32768..32767
        NegativeWidth,    // the width is `value`, below 0
        InputMissing,     // `path` does not exist
        InputUnreadable,  // `path` cannot be read: `reason`
        InputIsOutput,    // `path` is the output file itself
        OutputUnwritable, // `path` cannot be written: `reason`
        Cancelled,        // the caller cancelled; the old output is untouched, unless `inPlace`
        OutOfMemory,      // the job could not get the memory it needs
        BadInput,         // `path` cannot be made into records at line `line`: `reason`
    };
    explicit JobError(Kind k, Field f = Field::Count)
        : kind(k)
        , field(f)
    {
    }

    Kind kind;
    Field field;
    std::string text;
    int value = 0;
    std::string path;
    std::string reason;
    std::uint64_t line = 0;
    // Cancelled, BadInput: the output is written in place (standard output, a
    // descriptor, a FIFO, a device) and keeps what went out before.
    bool inPlace = false;
};

// Empty when the job ran to its end.
using JobResult = std::optional<JobError>;

} // namespace fwprep
