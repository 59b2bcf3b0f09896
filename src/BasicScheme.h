// Parameter selection and the in-memory scheme operations.
#pragma once

#include "common.h"

namespace ringtrap {

}  // namespace ringtrap
