#include "errors.h"

#include <system_error>

namespace fwprep {

std::string describeError(int error)
{
    return std::generic_category().message(error);
}

} // namespace fwprep
