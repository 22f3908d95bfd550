#include "file_job.h"

#include <algorithm>
#include <cerrno>
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

    std::unique_ptr<FdSource> source;
    if (isStandard(job.input)) {
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

    const bool toStdout = isStandard(job.output);
    if (toStdout ? isSameFile(source->fd(), STDOUT_FILENO) : isSameFile(source->fd(), job.output))
        return fileError(JobError::Kind::InputIsOutput, job.input);

    JobStats result;
    try {
        if (toStdout) {
            FdSink sink(STDOUT_FILENO, "-");
            result = runTransform(*source, sink, job.params, control);
        } else {
            AtomicFile file(job.output);
            result = runTransform(*source, file, job.params, control);
            file.commit();
        }
    } catch (const IoError& e) {
        return fileError(e.side == IoError::Side::Input ? JobError::Kind::InputUnreadable
                                                        : JobError::Kind::OutputUnwritable,
            e.path, e.error);
    } catch (const DataError& d) {
        JobError e = fileError(JobError::Kind::BadInput, source->path());
        e.line = d.line;
        e.reason = d.what();
        return e;
    } catch (const Cancelled&) {
        return JobError{JobError::Kind::Cancelled};
    } catch (const std::bad_alloc&) {
        return fileError(JobError::Kind::OutputUnwritable, job.output, ENOMEM);
    }
    if (stats != nullptr)
        *stats = result;
    return std::nullopt;
}

} // namespace fwprep
