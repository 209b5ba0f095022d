// The call a conversion makes once its input is open and before it
// recognises anything: the front end opens OUTPUT then, so that a path that
// cannot be written fails at once rather than after every page, while an
// unreadable input is still reported first. The front end owns what it
// opens; a conversion only passes a failure on.
#pragma once

#include <functional>

#include "document/result.h"

namespace brindlewox {

using OpenOutput = std::function<Status()>;

}  // namespace brindlewox
