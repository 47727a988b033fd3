#include "server/wire/DBXProperties.h"

namespace kds {} // namespace kds
