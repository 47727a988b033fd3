#include "xml/NodePath.h"

#include <unordered_set>

#include "base/AsciiText.h"
#include "xml/XmlDocument.h"
#include "xml/XmlErrors.h"

namespace kds {

namespace {

// A child matches a step name when the name equals its full name or its name
// after the first ":". Exact comparison, case included.
bool NameMatches(const TXmlNode& Node, const std::string& Name) {
    return Node.HasName(Name);
}

// A path of one step that is a name only: no "\\", "[", "@", and not "..".
bool IsPlainName(const std::string& Path) {
    for (const char C : Path)
        if (C == '\\' || C == '[' || C == '@')
            return false;
    return !(Path.size() == 2 && Path[0] == '.' && Path[1] == '.');
}

void CheckStepCount(const std::vector<std::string>& Steps) {
    if (Steps.size() > MaxPathSteps)
        throw EXmlDomError("The path has more than " + std::to_string(MaxPathSteps) + " steps");
}

// The first step that applies below Start: step 0 names the start node itself
// when it equals the start node's name without prefix, as written.
std::size_t FirstStep(const TXmlNode& Start, const std::vector<std::string>& Steps) {
    return Start.HasLocalName(Steps[0]) ? 1 : 0;
}

// State of one selecting walk. Each step is taken apart when the walk first
// reaches it (so a bad index raises only when it is reached, as the walk
// goes). Pairs (node, step) that matched nothing are remembered: without that
// a path that climbs back with ".." would retry the same subtrees again and
// again, exponentially in the number of steps.
struct TMatchWalk {
    const std::vector<std::string>& Steps;
    std::vector<std::optional<TPathStep>> Split;

    struct TPairHash {
        std::size_t operator()(const std::pair<const void*, std::size_t>& P) const {
            return std::hash<const void*>()(P.first) ^ (P.second * 0x9E3779B97F4A7C15ull);
        }
    };
    std::unordered_set<std::pair<const void*, std::size_t>, TPairHash> Failed;

    explicit TMatchWalk(const std::vector<std::string>& S) : Steps(S), Split(S.size()) {}

    const TPathStep& StepAt(std::size_t K) {
        if (!Split[K])
            Split[K] = SplitPathStep(Steps[K], std::nullopt);
        return *Split[K];
    }

    TXmlNode Try(const TXmlNode& Node, std::size_t K) {
        if (K >= Steps.size() || Node.IsNull())
            return Match(Node, K);
        if (!Failed.empty() && Failed.count({Node.Key(), K}))
            return TXmlNode();
        TXmlNode Result = Match(Node, K);
        if (Result.IsNull())
            Failed.insert({Node.Key(), K});
        return Result;
    }

    TXmlNode Match(const TXmlNode& Node, std::size_t K) {
        if (K >= Steps.size())
            return Node;
        const TPathStep& Step = StepAt(K);
        TXmlNode Result;
        if (!Step.Name.empty() && !Node.IsNull()) {
            if (Step.HasIndex) {
                int Count = 0;
                for (TXmlNode C = Node.FirstChild(); C; C.ToNextSibling()) {
                    if (!NameMatches(C, Step.Name))
                        continue;
                    if (Step.AnyIndex || Count == Step.Index) {
                        Result = Try(C, K + 1);
                        break;
                    }
                    ++Count;
                }
            } else if (Step.Name == "..") {
                Result = Try(Node.ParentNode(), K + 1);
            } else {
                for (TXmlNode C = Node.FirstChild(); C; C.ToNextSibling()) {
                    if (!NameMatches(C, Step.Name))
                        continue;
                    Result = Try(C, K + 1);
                    if (Result)
                        break;
                }
            }
        } else if (Step.Name.empty() && Step.HasAttribute) {
            Result = Node;
        }
        if (Result && Step.HasAttribute)
            Result = Result.Attribute(Step.Attribute);
        return Result;
    }
};

} // namespace

std::vector<std::string> PathSteps(const std::string& Path) {
    return SplitList(Path, '\\', false);
}

TPathStep SplitPathStep(const std::string& Step, std::optional<int> DefaultIndex) {
    TPathStep Result;
    std::string_view Rest = Step;
    const auto At = Rest.find('@');
    if (At != std::string_view::npos) {
        Result.HasAttribute = true;
        Result.Attribute = std::string(Rest.substr(At + 1));
        Rest = Rest.substr(0, At);
    }
    const auto Open = Rest.find('[');
    if (Open != std::string_view::npos) {
        const auto Close = Rest.find(']', Open + 1);
        const std::string IndexText(Rest.substr(
            Open + 1, Close == std::string_view::npos ? std::string_view::npos : Close - Open - 1));
        Result.Name = std::string(Rest.substr(0, Open));
        Result.HasIndex = true;
        if (IndexText == "*")
            Result.AnyIndex = true;
        else
            Result.Index = StrToInt(IndexText);
    } else {
        Result.Name = std::string(Rest);
        if (DefaultIndex) {
            Result.HasIndex = true;
            Result.Index = *DefaultIndex;
        }
    }
    return Result;
}

TXmlNode MatchPathSteps(const TXmlNode& Node, std::size_t K,
                        const std::vector<std::string>& Steps) {
    CheckStepCount(Steps);
    TMatchWalk Walk(Steps);
    return Walk.Match(Node, K);
}

TXmlNode FindPathNode(const TXmlNode& Start, const std::string& Path) {
    if (Path.empty() || Start.IsNull())
        return Start;
    // The common case, one plain name such as "header": the start node itself
    // or its first child of that name. Same result as the general walk below,
    // without taking the path apart.
    if (IsPlainName(Path)) {
        if (Start.HasLocalName(Path))
            return Start;
        for (TXmlNode C = Start.FirstChild(); C; C.ToNextSibling())
            if (NameMatches(C, Path))
                return C;
        return TXmlNode();
    }
    const std::vector<std::string> Steps = PathSteps(Path);
    // A path of backslashes only has no step: like the empty path, it selects
    // the start node (rather than failing on a missing first step).
    if (Steps.empty())
        return Start;
    CheckStepCount(Steps);
    TMatchWalk Walk(Steps);
    return Walk.Match(Start, FirstStep(Start, Steps));
}

TXmlNode EnsureChildStep(const TXmlNode& Parent, const std::string& Step) {
    const TPathStep S = SplitPathStep(Step, 0);
    if (S.Name.empty() || Parent.IsNull())
        return Parent;
    int Count = 0;
    for (TXmlNode C = Parent.FirstChild(); C; C.ToNextSibling()) {
        if (!NameMatches(C, S.Name))
            continue;
        if (S.AnyIndex || Count == S.Index)
            return C;
        ++Count;
    }
    // Only one element is made, however large the index.
    TXmlNode Parent2 = Parent;
    return Parent2.AppendChild(Parent.OwnerDocument().CreateElement(S.Name));
}

TXmlNode EnsurePathNode(const TXmlNode& Start, const std::string& Path) {
    const std::vector<std::string> Steps = PathSteps(Path);
    if (Steps.empty() || Start.IsNull())
        return TXmlNode();
    CheckStepCount(Steps);
    TXmlNode Node = Start;
    for (std::size_t K = FirstStep(Start, Steps); K < Steps.size(); ++K)
        Node = EnsureChildStep(Node, Steps[K]);
    return Node;
}

TXmlNode LocateNode(const TXmlNode& Start, const std::string& Path, bool Create) {
    TXmlNode Found = FindPathNode(Start, Path);
    if (Found.IsNull() && Create)
        return EnsurePathNode(Start, Path);
    return Found;
}

} // namespace kds
