#include "server/wire/DSSession.h"

namespace kds {} // namespace kds
