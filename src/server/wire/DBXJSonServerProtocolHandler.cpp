#include "server/wire/DBXJSonServerProtocolHandler.h"

namespace kds {} // namespace kds
