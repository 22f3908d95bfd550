#include "job_setup.h"

#include <algorithm>

#include "file_job.h"
#include "number.h"

namespace fwprep {

const char* outputFileName(JobKind kind)
{
    return kind == JobKind::Split ? "test1.txt" : "data.txt";
}

std::string inputPathFor(const std::string& appFolder, const std::string& name)
{
    std::string path = appFolder + "/" + name + ".txt";
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string outputPathFor(const std::string& appFolder, JobKind kind)
{
    return appFolder + "/" + outputFileName(kind);
}

JobResult runScreenJob(JobKind kind, const FieldTexts& fields, const std::string& appFolder,
    const JobControl& control)
{
    if (fields.count.empty() || fields.width.empty() || fields.name.empty())
        return JobError{JobError::Kind::EmptyField};

    const auto badNumber = [](Field field, const std::string& text) {
        JobError e{JobError::Kind::BadNumber, field};
        e.text = text;
        return e;
    };
    const auto width = parseInt16(fields.width);
    if (!width)
        return badNumber(Field::Width, fields.width);
    const auto count = parseInt16(fields.count);
    if (!count)
        return badNumber(Field::Count, fields.count);

    FileJob job;
    job.input = inputPathFor(appFolder, fields.name);
    job.output = outputPathFor(appFolder, kind);
    job.params.kind = kind;
    job.params.count = *count;
    job.params.width = *width;
    return runFileJob(job, control);
}

} // namespace fwprep
