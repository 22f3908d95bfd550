#include "errors.h"

#include <system_error>

namespace fwprep {

std::string describeError(int error)
{
    if (error == kInputShrank)
        return "The file got shorter while it was being read";
    return std::generic_category().message(error);
}

} // namespace fwprep
