#include "server/wire/DBXJSonServerInputConnectionHandler.h"

namespace kds {} // namespace kds
