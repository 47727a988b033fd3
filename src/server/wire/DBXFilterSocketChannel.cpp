#include "server/wire/DBXFilterSocketChannel.h"

namespace kds {} // namespace kds
