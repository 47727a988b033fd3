#include "server/wire/DBXServerCallback.h"

namespace kds {} // namespace kds
