#include "errors.h"

#include <system_error>

namespace fwprep {

std::string describeError(int error)
{
    switch (error) {
    case kInputShrank:
        return "The file got shorter while it was being read";
    case kDescriptorClosed:
        return "It is closed";
    case kBlockDevice:
        return "It is a block device (only files, FIFOs and character devices are written)";
    case kSocket:
        return "It is a socket (only files, FIFOs and character devices are written)";
    case kFolderNotWritable:
        return "The folder does not allow a temporary file beside it (Permission denied)";
    default:
        break;
    }
    return std::generic_category().message(error);
}

} // namespace fwprep
