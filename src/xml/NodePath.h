#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "xml/XmlNode.h"

namespace kds {

// The node path language of the XML cursor.
//
// A path is steps separated by backslashes; empty steps are dropped, so a
// path of backslashes only is the empty path, which selects the start node.
// A step is   name[index]@attribute   with each part optional:
//   name       matched exactly (case included) against a child's local name
//              (without "prefix:") or its full name; children of every kind
//              are looked at, only their names decide; ".." is the parent
//   [index]    the index-th match among the children, from 0, or [*] for the
//              first; without it a selection tries every match in document
//              order and backtracks, a creation takes the first
//   @attribute the attribute of the node the whole path selects
// A first step that equals the start node's own local name (as written, so
// with neither index nor attribute) names the start node itself.
//
// Errors: an index that is neither "*" nor an integer raises EXmlConvertError
// "''x'' is not a valid integer value"; a created element whose name is not a
// valid XML name raises EXmlDomError; a path of more than MaxPathSteps steps
// raises EXmlDomError. A path that matches nothing gives a null node.

inline constexpr std::size_t MaxPathSteps = 1000;

// One step taken apart. Without brackets, HasIndex is false when the step is
// selected and the index is 0 when it is created (the default given to
// SplitPathStep).
struct TPathStep {
    std::string Name;
    bool HasIndex = false;
    bool AnyIndex = false; // "[*]": the first match
    int Index = 0;         // counts matching children from 0; may be negative
    bool HasAttribute = false;
    std::string Attribute; // after "@"; may be empty
};

std::vector<std::string> PathSteps(const std::string& Path);
TPathStep SplitPathStep(const std::string& Step, std::optional<int> DefaultIndex);

// Selects (Create false) or, when nothing is selected, creates (Create true).
TXmlNode LocateNode(const TXmlNode& Start, const std::string& Path, bool Create);
// Selection only; may give an attribute node.
TXmlNode FindPathNode(const TXmlNode& Start, const std::string& Path);
// Matches Steps[K..] below Node, depth first with backtracking.
TXmlNode MatchPathSteps(const TXmlNode& Node, std::size_t K, const std::vector<std::string>& Steps);
// Creation: an element, missing elements made; attribute parts are ignored.
TXmlNode EnsurePathNode(const TXmlNode& Start, const std::string& Path);
TXmlNode EnsureChildStep(const TXmlNode& Parent, const std::string& Step);

} // namespace kds
