#include "base/exception.h"

#include <cstring>

namespace lyb {

std::string errorText(int error) {
    if (error == kNotRegularFile)
        return "Not a regular file";
    return std::strerror(error);
}

}  // namespace lyb
