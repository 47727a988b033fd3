#pragma once

#include <ostream>

#include "xml/XmlNode.h"

namespace kds {

// Readable node handles in test failures: the kind, name and markup.
inline void PrintTo(const TXmlNode& Node, std::ostream* Os) {
    if (Node.IsNull())
        *Os << "(null node)";
    else
        *Os << "(kind " << Node.NodeType() << " " << Node.NodeName() << ") " << Node.Markup();
}

} // namespace kds
