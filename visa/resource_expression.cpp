#include "visa/resource_expression.h"

#include <algorithm>
#include <cctype>
#include <tuple>
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
            // Each level costs stack in this parser: bound it.
            if (++depth_ > kMaxNesting) return nullptr;
            NodePtr inner = either();
            --depth_;
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
    int depth_ = 0;
};

bool inSet(const std::vector<std::pair<char, char>> &ranges, bool negated, char c) {
    bool hit = false;
    for (const auto &[lo, hi] : ranges)
        for (const char variant : {c, fold(c), upper(c)})
            hit = hit || (variant >= lo && variant <= hi);
    return hit != negated;
}

}  // namespace

// The expression as a nondeterministic state machine: states that consume
// one character (a literal, any character, a set) lead to one next state;
// the others only fork to further states without consuming. A run keeps the
// set of states reached so far, so no alternative is ever tried twice.
struct ResourceExpression::Machine {
    struct State {
        Node::Kind kind = Node::Kind::Sequence;  // Literal, Any, Set consume; others fork
        char literal = 0;
        bool negated = false;
        std::vector<std::pair<char, char>> ranges;
        int next = -1;          // after consuming
        std::vector<int> forks; // without consuming
    };
    std::vector<State> states;
    int start = -1;
    int accept = -1;

    bool accepts(const State &s, char c) const {
        switch (s.kind) {
        case Node::Kind::Literal: return fold(c) == s.literal;
        case Node::Kind::Any: return true;
        case Node::Kind::Set: return inSet(s.ranges, s.negated, c);
        default: return false;
        }
    }

    int add(Node::Kind kind) {
        states.push_back(State{});
        states.back().kind = kind;
        return static_cast<int>(states.size()) - 1;
    }
    void fork(int from, int to) { states[static_cast<std::size_t>(from)].forks.push_back(to); }

    // Builds the states of a node; returns its entry and exit. The depth is
    // that of the parsed tree, bounded by the expression's length.
    std::pair<int, int> build(const Node &node) {
        switch (node.kind) {
        case Node::Kind::Literal:
        case Node::Kind::Any:
        case Node::Kind::Set: {
            const int in = add(node.kind);
            const int out = add(Node::Kind::Sequence);
            State &s = states[static_cast<std::size_t>(in)];
            s.literal = node.literal;
            s.negated = node.negated;
            s.ranges = node.ranges;
            s.next = out;
            return {in, out};
        }
        case Node::Kind::Sequence: {
            std::pair<int, int> whole{-1, -1};
            for (const auto &part : node.parts) {
                const auto piece = build(*part);
                if (whole.first < 0)
                    whole.first = piece.first;
                else
                    fork(whole.second, piece.first);
                whole.second = piece.second;
            }
            return whole;
        }
        case Node::Kind::Either: {
            const int in = add(Node::Kind::Either);
            const int out = add(Node::Kind::Sequence);
            for (const auto &part : node.parts) {
                const auto piece = build(*part);
                fork(in, piece.first);
                fork(piece.second, out);
            }
            return {in, out};
        }
        case Node::Kind::ZeroOrMore:
        case Node::Kind::OneOrMore: {
            const int in = add(Node::Kind::Sequence);
            const int out = add(Node::Kind::Sequence);
            const auto piece = build(*node.parts[0]);
            fork(in, piece.first);
            if (node.kind == Node::Kind::ZeroOrMore) fork(in, out);
            fork(piece.second, piece.first);
            fork(piece.second, out);
            return {in, out};
        }
        }
        return {-1, -1};
    }

    // Adds a state and every state it forks to (without consuming).
    void reach(int state, std::vector<char> &seen, std::vector<int> &set,
               std::vector<int> &pending) const {
        pending.push_back(state);
        while (!pending.empty()) {
            const int s = pending.back();
            pending.pop_back();
            if (seen[static_cast<std::size_t>(s)]) continue;
            seen[static_cast<std::size_t>(s)] = 1;
            set.push_back(s);
            for (const int f : states[static_cast<std::size_t>(s)].forks) pending.push_back(f);
        }
    }

    bool run(std::string_view name) const {
        std::vector<char> seen(states.size(), 0);
        std::vector<int> current, next, pending;
        reach(start, seen, current, pending);
        for (const char c : name) {
            std::fill(seen.begin(), seen.end(), 0);
            next.clear();
            for (const int s : current) {
                const State &st = states[static_cast<std::size_t>(s)];
                if (st.next >= 0 && accepts(st, c)) reach(st.next, seen, next, pending);
            }
            current.swap(next);
            if (current.empty()) return false;
        }
        return std::find(current.begin(), current.end(), accept) != current.end();
    }
};

std::optional<ResourceExpression> ResourceExpression::compile(std::string_view text) {
    if (text.empty() || text.size() > kMaxExpressionLength) return std::nullopt;
    NodePtr root = Parser(text).parse();
    if (!root) return std::nullopt;
    auto machine = std::make_shared<Machine>();
    std::tie(machine->start, machine->accept) = machine->build(*root);
    return ResourceExpression(std::move(machine));
}

bool ResourceExpression::matches(std::string_view name) const {
    return machine_->run(name);
}

}  // namespace korvax::visa
