#include "visa/resource_expression.h"

#include <cctype>
#include <utility>

namespace korvax::visa {

struct ResourceExpression::Node {
    enum class Kind { Literal, Any, Set, Sequence, Either, ZeroOrMore, OneOrMore };
    Kind kind = Kind::Literal;
    char literal = 0;                                // Literal, folded to lower case
    bool negated = false;                            // Set
    std::vector<std::pair<char, char>> ranges;       // Set, as written
    std::vector<std::shared_ptr<const Node>> parts;  // Sequence, Either, repeats (one part)
};

namespace {

using Node = ResourceExpression::Node;
using NodePtr = std::shared_ptr<const Node>;
// Which positions of the name the expression can have reached: reach[i] is
// true when the first i characters are matched.
using Reach = std::vector<char>;

std::shared_ptr<Node> make(Node::Kind kind) {
    auto node = std::make_shared<Node>();
    node->kind = kind;
    return node;
}

char fold(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}
char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    NodePtr parse() {
        NodePtr root = either();
        if (!root || pos_ != text_.size()) return nullptr;
        return root;
    }

private:
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    NodePtr either() {
        auto node = make(Node::Kind::Either);
        for (;;) {
            NodePtr part = sequence();
            if (!part) return nullptr;
            node->parts.push_back(std::move(part));
            if (atEnd() || peek() != '|') break;
            ++pos_;
        }
        if (node->parts.size() == 1) return node->parts.front();
        return node;
    }

    NodePtr sequence() {
        auto node = make(Node::Kind::Sequence);
        while (!atEnd() && peek() != '|' && peek() != ')') {
            NodePtr item = repeated();
            if (!item) return nullptr;
            node->parts.push_back(std::move(item));
        }
        if (node->parts.empty()) return nullptr;
        if (node->parts.size() == 1) return node->parts.front();
        return node;
    }

    NodePtr repeated() {
        NodePtr item = atom();
        if (!item) return nullptr;
        while (!atEnd() && (peek() == '*' || peek() == '+')) {
            const auto kind = text_[pos_++] == '*' ? Node::Kind::ZeroOrMore : Node::Kind::OneOrMore;
            auto rep = make(kind);
            rep->parts.push_back(std::move(item));
            item = std::move(rep);
        }
        return item;
    }

    NodePtr atom() {
        const char c = text_[pos_++];
        switch (c) {
        case '?': return make(Node::Kind::Any);
        case '(': {
            NodePtr inner = either();
            if (!inner || atEnd() || peek() != ')') return nullptr;
            ++pos_;
            return inner;
        }
        case '[': return set();
        case '\\':
            if (atEnd()) return nullptr;
            return literal(text_[pos_++]);
        case '*':
        case '+':
        case '{':
        case '}': return nullptr;
        default: return literal(c);
        }
    }

    NodePtr literal(char c) {
        auto node = make(Node::Kind::Literal);
        node->literal = fold(c);
        return node;
    }

    NodePtr set() {
        auto node = make(Node::Kind::Set);
        if (!atEnd() && peek() == '^') {
            node->negated = true;
            ++pos_;
        }
        auto next = [this](char &out) {
            if (atEnd()) return false;
            out = text_[pos_++];
            if (out == '\\') {
                if (atEnd()) return false;
                out = text_[pos_++];
            }
            return true;
        };
        while (!atEnd() && peek() != ']') {
            char lo = 0;
            if (!next(lo)) return nullptr;
            char hi = lo;
            if (pos_ + 1 < text_.size() && peek() == '-' && text_[pos_ + 1] != ']') {
                ++pos_;
                if (!next(hi) || hi < lo) return nullptr;
            }
            node->ranges.emplace_back(lo, hi);
        }
        if (atEnd() || node->ranges.empty()) return nullptr;
        ++pos_;  // ']'
        return node;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool inSet(const Node &set, char c) {
    bool hit = false;
    for (const auto &[lo, hi] : set.ranges)
        for (const char variant : {c, fold(c), upper(c)})
            hit = hit || (variant >= lo && variant <= hi);
    return hit != set.negated;
}

bool accepts(const Node &node, char c) {
    switch (node.kind) {
    case Node::Kind::Literal: return fold(c) == node.literal;
    case Node::Kind::Any: return true;
    default: return inSet(node, c);
    }
}

bool any(const Reach &r) {
    for (char x : r)
        if (x) return true;
    return false;
}

Reach advance(const Node &node, const Reach &from, std::string_view name) {
    Reach out(from.size(), 0);
    switch (node.kind) {
    case Node::Kind::Literal:
    case Node::Kind::Any:
    case Node::Kind::Set:
        for (std::size_t i = 0; i < name.size(); ++i)
            if (from[i] && accepts(node, name[i])) out[i + 1] = 1;
        return out;
    case Node::Kind::Sequence: {
        Reach r = from;
        for (const auto &part : node.parts) r = advance(*part, r, name);
        return r;
    }
    case Node::Kind::Either:
        for (const auto &part : node.parts) {
            const Reach r = advance(*part, from, name);
            for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] | r[i]);
        }
        return out;
    case Node::Kind::ZeroOrMore:
    case Node::Kind::OneOrMore: {
        // Each round adds at least one new position or stops, so the loop
        // runs at most name.size() + 1 times.
        Reach frontier =
            node.kind == Node::Kind::ZeroOrMore ? from : advance(*node.parts[0], from, name);
        out = frontier;
        while (any(frontier)) {
            Reach next = advance(*node.parts[0], frontier, name);
            for (std::size_t i = 0; i < next.size(); ++i) {
                next[i] = static_cast<char>(next[i] && !out[i]);
                out[i] = static_cast<char>(out[i] | next[i]);
            }
            frontier = std::move(next);
        }
        return out;
    }
    }
    return out;
}

}  // namespace

std::optional<ResourceExpression> ResourceExpression::compile(std::string_view text) {
    if (text.empty()) return std::nullopt;
    NodePtr root = Parser(text).parse();
    if (!root) return std::nullopt;
    return ResourceExpression(std::move(root));
}

bool ResourceExpression::matches(std::string_view name) const {
    Reach start(name.size() + 1, 0);
    start[0] = 1;
    return advance(*root_, start, name).back() != 0;
}

}  // namespace korvax::visa
