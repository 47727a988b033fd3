#include "server/wire/DBXCommandHandler.h"

namespace kds {} // namespace kds
