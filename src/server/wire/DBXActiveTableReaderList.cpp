#include "server/wire/DBXActiveTableReaderList.h"

namespace kds {} // namespace kds
