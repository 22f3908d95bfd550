#include "file_job.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "byte_source.h"
#include "errors.h"
#include "files.h"
#include "output.h"
#include "transform.h"

namespace fwprep {

namespace {

bool isStandard(const std::string& name)
{
    return name.empty() || name == "-";
}

JobError fileError(JobError::Kind kind, const std::string& path, int error = 0)
{
    JobError e{kind};
    e.path = path;
    if (error != 0)
        e.reason = describeError(error);
    return e;
}

} // namespace

JobResult runFileJob(const FileJob& job, const JobControl& control, JobStats* stats)
{
    int width = job.params.width;
    for (const Column& col : job.params.layout)
        width = std::min(width, col.width);
    if (width < 0) {
        JobError e{JobError::Kind::NegativeWidth, Field::Width};
        e.value = width;
        return e;
    }

    // The output first: a descriptor it names must be held before the input
    // is opened, which could otherwise take the number of a closed one.
    std::unique_ptr<JobOutput> output;
    try {
        output = std::make_unique<JobOutput>(isStandard(job.output) ? "-" : job.output);
    } catch (const IoError& e) {
        return fileError(JobError::Kind::OutputUnwritable, e.path, e.error);
    }

    std::unique_ptr<FdSource> source;
    if (isStandard(job.input)) {
        if (::fcntl(STDIN_FILENO, F_GETFD) < 0)
            return fileError(JobError::Kind::InputUnreadable, "-", kDescriptorClosed);
        source = std::make_unique<FdSource>(STDIN_FILENO, "-", control, false);
    } else {
        int error = 0;
        const int fd = job.input.find('\0') == std::string::npos ? openForReading(job.input, error) : -1;
        if (fd < 0) {
            if (error == 0 || error == ENOENT || error == ENOTDIR)
                return fileError(JobError::Kind::InputMissing, job.input);
            return fileError(JobError::Kind::InputUnreadable, job.input, error);
        }
        source = std::make_unique<FdSource>(fd, job.input, control);
    }

    if (output->isSameFile(source->fd()))
        return fileError(JobError::Kind::InputIsOutput, job.input);

    JobStats result;
    try {
        result = runTransform(*source, output->open(control), job.params, control);
        output->commit();
    } catch (const IoError& e) {
        return fileError(e.side == IoError::Side::Input ? JobError::Kind::InputUnreadable
                                                        : JobError::Kind::OutputUnwritable,
            e.path, e.error);
    } catch (const DataError& d) {
        JobError e = fileError(JobError::Kind::BadInput, source->path());
        e.line = d.line;
        e.reason = d.what();
        e.inPlace = output->writesInPlace();
        return e;
    } catch (const Cancelled&) {
        JobError e{JobError::Kind::Cancelled};
        e.inPlace = output->writesInPlace();
        return e;
    } catch (const std::bad_alloc&) {
        return JobError{JobError::Kind::OutOfMemory};
    }
    if (stats != nullptr)
        *stats = result;
    return std::nullopt;
}

} // namespace fwprep
