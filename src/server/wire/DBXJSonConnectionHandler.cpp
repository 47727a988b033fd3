#include "server/wire/DBXJSonConnectionHandler.h"

namespace kds {} // namespace kds
