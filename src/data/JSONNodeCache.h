#pragma once

// Internal to kds_data: the memory that each thread keeps for JSON nodes and
// for the parser (the node memory itself is TJSONAncestor's operator new and
// delete).

#include <vector>

namespace kds {

class TJSONValue;
class TJSONPair;

// The parser's item stacks, kept between parses so that their memory is
// allocated once per thread rather than grown in every parse.
struct TJSONParserStacks {
    std::vector<TJSONValue*> Values;
    std::vector<TJSONPair*> Pairs;
};

// The calling thread's kept stacks; nullptr once the thread's cache has gone
// at thread exit (a parse then keeps nothing).
TJSONParserStacks* ThreadParserStacks();

} // namespace kds
