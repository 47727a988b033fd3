#include "server/wire/DBXMessages.h"

namespace kds {} // namespace kds
