#include "server/wire/DBXJSonServerOutputConnectionHandler.h"

namespace kds {} // namespace kds
