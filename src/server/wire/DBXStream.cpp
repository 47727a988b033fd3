#include "server/wire/DBXStream.h"

namespace kds {} // namespace kds
