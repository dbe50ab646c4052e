#include "app/services/MathParser.h"

#include "app/services/MathSymbols.h"

#include <QColor>

#include <algorithm>
#include <array>
#include <string>

namespace {

struct ParseFailure {
    MathErrorKind kind;
};

[[noreturn]] void fail(MathErrorKind kind) {
    throw ParseFailure{kind};
}

enum class OpenerKind { brace, left, environment, bracket };

struct Opener {
    OpenerKind kind;
    std::string environment;
    bool closesWithBrace = false; // \substack{...}: an environment whose end is a brace
};

// How a list ended: the closer that was read (and consumed).
enum class ListEnd { input, brace, right, middle, end, ampersand, newline, bracket };

constexpr double mu = 1.0 / 18.0;

bool isLetter(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

MathAtomType typeOf(MathSymbols::SymbolClass c) {
    using C = MathSymbols::SymbolClass;
    switch (c) {
    case C::op:
        return MathAtomType::op;
    case C::bin:
        return MathAtomType::bin;
    case C::rel:
        return MathAtomType::rel;
    case C::open:
        return MathAtomType::open;
    case C::close:
        return MathAtomType::close;
    case C::punct:
        return MathAtomType::punct;
    case C::inner:
        return MathAtomType::inner;
    default:
        return MathAtomType::ord;
    }
}

struct EnvironmentInfo {
    const char* name;
    MathEnvironment environment;
    int maxColumns; // 0: unlimited; -1: from the array column format; -2: twice the number argument (alignat)
};

constexpr std::array<EnvironmentInfo, 26> environments{{
    {"alignat", MathEnvironment::aligned, -2},   {"alignat*", MathEnvironment::aligned, -2},
    {"alignedat", MathEnvironment::aligned, -2}, {"matrix", MathEnvironment::matrix, 0},
    {"pmatrix", MathEnvironment::pmatrix, 0},    {"bmatrix", MathEnvironment::bmatrix, 0},
    {"Bmatrix", MathEnvironment::Bmatrix, 0},    {"vmatrix", MathEnvironment::vmatrix, 0},
    {"Vmatrix", MathEnvironment::Vmatrix, 0},    {"smallmatrix", MathEnvironment::smallmatrix, 0},
    {"cases", MathEnvironment::cases, 2},        {"dcases", MathEnvironment::dcases, 2},
    {"rcases", MathEnvironment::rcases, 2},      {"drcases", MathEnvironment::rcases, 2},
    {"aligned", MathEnvironment::aligned, 0},    {"align", MathEnvironment::aligned, 0},
    {"align*", MathEnvironment::aligned, 0},     {"split", MathEnvironment::aligned, 0},
    {"gathered", MathEnvironment::gathered, 1},  {"gather", MathEnvironment::gathered, 1},
    {"gather*", MathEnvironment::gathered, 1},   {"equation", MathEnvironment::gathered, 1},
    {"equation*", MathEnvironment::gathered, 1}, {"array", MathEnvironment::array, -1},
    {"darray", MathEnvironment::array, -1},      {"subarray", MathEnvironment::array, -1},
}};

const EnvironmentInfo* findEnvironment(const std::string& name) {
    for (const auto& e : environments)
        if (name == e.name)
            return &e;
    return nullptr;
}

// Named functions, upright; those flagged take limits in display style.
struct NamedFunction {
    const char* command;
    const char* text;
    bool limits;
};

constexpr std::array<NamedFunction, 42> namedFunctions{{
    {"arcsin", "arcsin", false},
    {"arccos", "arccos", false},
    {"arctan", "arctan", false},
    {"arctg", "arctg", false},
    {"arcctg", "arcctg", false},
    {"arg", "arg", false},
    {"ch", "ch", false},
    {"cos", "cos", false},
    {"cosec", "cosec", false},
    {"cosh", "cosh", false},
    {"cot", "cot", false},
    {"cotg", "cotg", false},
    {"coth", "coth", false},
    {"csc", "csc", false},
    {"ctg", "ctg", false},
    {"cth", "cth", false},
    {"deg", "deg", false},
    {"dim", "dim", false},
    {"exp", "exp", false},
    {"hom", "hom", false},
    {"ker", "ker", false},
    {"lg", "lg", false},
    {"ln", "ln", false},
    {"log", "log", false},
    {"sec", "sec", false},
    {"sh", "sh", false},
    {"sin", "sin", false},
    {"sinh", "sinh", false},
    {"tan", "tan", false},
    {"tanh", "tanh", false},
    {"tg", "tg", false},
    {"th", "th", false},
    {"det", "det", true},
    {"gcd", "gcd", true},
    {"Pr", "Pr", true},
    {"lim", "lim", true},
    {"liminf", "lim\u2009inf", true},
    {"limsup", "lim\u2009sup", true},
    {"max", "max", true},
    {"min", "min", true},
    {"sup", "sup", true},
    {"inf", "inf", true},
}};

constexpr std::array<NamedFunction, 5> namedLimitFunctions{{
    {"argmax", "arg\u2009max", true},
    {"argmin", "arg\u2009min", true},
    {"injlim", "inj\u2009lim", true},
    {"projlim", "proj\u2009lim", true},
    {"plim", "plim", true},
}};

const NamedFunction* findNamedFunction(const std::string& name) {
    for (const auto& f : namedFunctions)
        if (name == f.command)
            return &f;
    for (const auto& f : namedLimitFunctions)
        if (name == f.command)
            return &f;
    return nullptr;
}

// Precomposed negations used by \not when the font has them.
char32_t negated(char32_t c) {
    switch (c) {
    case '=':
        return 0x2260;
    case '<':
        return 0x226E;
    case '>':
        return 0x226F;
    case 0x2208:
        return 0x2209;
    case 0x220B:
        return 0x220C;
    case 0x2261:
        return 0x2262;
    case 0x2282:
        return 0x2284;
    case 0x2283:
        return 0x2285;
    case 0x2286:
        return 0x2288;
    case 0x2287:
        return 0x2289;
    case 0x2264:
        return 0x2270;
    case 0x2265:
        return 0x2271;
    case 0x223C:
        return 0x2241;
    case 0x2248:
        return 0x2249;
    case 0x2245:
        return 0x2247;
    case 0x2223:
        return 0x2224;
    case 0x2225:
        return 0x2226;
    case 0x2203:
        return 0x2204;
    case 0x2243:
        return 0x2244;
    case 0x227A:
        return 0x2280;
    case 0x227B:
        return 0x2281;
    default:
        return 0;
    }
}

bool isDelimiterCodePoint(char32_t c) {
    switch (c) {
    case '(':
    case ')':
    case '[':
    case ']':
    case '{':
    case '}':
    case '|':
    case '/':
    case '\\':
    case 0x2016:
    case 0x27E8:
    case 0x27E9:
    case 0x230A:
    case 0x230B:
    case 0x2308:
    case 0x2309:
    case 0x2191:
    case 0x2193:
    case 0x2195:
    case 0x21D1:
    case 0x21D3:
    case 0x21D5:
    case 0x27EE:
    case 0x27EF:
    case 0x23B0:
    case 0x23B1:
    case 0x27E6:
    case 0x27E7:
        return true;
    default:
        return false;
    }
}

class Parser {
public:
    explicit Parser(const QString& source) : m_text(source.toStdU32String()) {}

    MathList parseFormula() {
        std::vector<MathList> lines(1);
        for (;;) {
            ListEnd end = parseList(lines.back());
            if (end == ListEnd::input)
                break;
            // parseList only returns other closers when an opener of theirs is open; at the top there is
            // none except a top-level row break.
            lines.emplace_back();
        }
        if (lines.size() > 1 && lines.back().empty())
            lines.pop_back(); // a final row break adds no line
        if (lines.size() == 1)
            return std::move(lines.front());
        MathNode node;
        node.kind = MathNode::Kind::table;
        MathTable table;
        table.environment = MathEnvironment::lines;
        for (auto& line : lines)
            table.rows.push_back({std::move(line)});
        node.tables.push_back(std::move(table));
        return {std::move(node)};
    }

private:
    std::u32string m_text;
    size_t m_pos = 0;
    std::vector<Opener> m_stack;
    std::vector<MathTable*> m_tables;
    MathAlphabet m_alphabet = MathAlphabet::normal;

    bool atEnd() const { return m_pos >= m_text.size(); }
    char32_t peek() const { return atEnd() ? 0 : m_text[m_pos]; }

    void skipSpace() {
        while (!atEnd()) {
            char32_t c = m_text[m_pos];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                ++m_pos;
            } else if (c == '%') {
                while (!atEnd() && m_text[m_pos] != '\n')
                    ++m_pos;
            } else {
                break;
            }
        }
    }

    // After a backslash: a control word (letters, following spaces skipped) or a control symbol.
    std::string readCommandName() {
        if (atEnd())
            fail(MathErrorKind::other); // a trailing backslash
        std::string name;
        if (isLetter(m_text[m_pos])) {
            while (!atEnd() && isLetter(m_text[m_pos]))
                name += char(m_text[m_pos++]);
            if (!atEnd() && m_text[m_pos] == '*' && (name == "operatorname" || name == "hspace"))
                name += char(m_text[m_pos++]);
            skipSpace();
        } else {
            char32_t c = m_text[m_pos++];
            if (c < 0x80) {
                name += char(c);
            } else {
                name = QString::fromStdU32String(std::u32string(1, c)).toStdString();
            }
        }
        return name;
    }

    // The command at the current position without consuming it, or empty.
    std::string peekCommandName() const {
        if (peek() != '\\')
            return {};
        size_t p = m_pos + 1;
        std::string name;
        while (p < m_text.size() && isLetter(m_text[p]))
            name += char(m_text[p++]);
        return name;
    }

    static MathErrorKind blame(const Opener& opener) {
        switch (opener.kind) {
        case OpenerKind::brace:
            return MathErrorKind::mismatchedBraces;
        case OpenerKind::left:
            return MathErrorKind::missingRight;
        case OpenerKind::bracket:
            return MathErrorKind::characterNotFound;
        case OpenerKind::environment:
            return opener.closesWithBrace ? MathErrorKind::mismatchedBraces : MathErrorKind::missingEnd;
        }
        return MathErrorKind::other;
    }

    bool anyOpen(OpenerKind kind) const {
        return std::any_of(m_stack.begin(), m_stack.end(), [&](const Opener& o) {
            return o.kind == kind || (kind == OpenerKind::brace && o.closesWithBrace);
        });
    }

    // A closer matches only the innermost open construct; otherwise that construct is blamed.
    void checkCloser(OpenerKind kind, MathErrorKind unmatched) {
        if (!anyOpen(kind))
            fail(unmatched);
        const Opener& inner = m_stack.back();
        bool matches = inner.kind == kind;
        if (kind == OpenerKind::brace)
            matches = inner.kind == OpenerKind::brace || inner.closesWithBrace;
        else if (kind == OpenerKind::environment)
            matches = inner.kind == OpenerKind::environment && !inner.closesWithBrace;
        if (!matches)
            fail(blame(inner));
    }

    struct InfixFraction {
        bool present = false;
        MathNode node;
        MathList numerator;
    };

    ListEnd parseList(MathList& out) {
        InfixFraction infix;
        ListEnd end = parseItems(out, infix);
        if (infix.present) {
            infix.node.body = std::move(infix.numerator);
            infix.node.second = std::move(out);
            out.clear();
            out.push_back(std::move(infix.node));
        }
        return end;
    }

    ListEnd parseItems(MathList& out, InfixFraction& infix) {
        for (;;) {
            skipSpace();
            if (atEnd()) {
                if (!m_stack.empty())
                    fail(blame(m_stack.back()));
                return ListEnd::input;
            }
            char32_t c = peek();
            if (c == '}') {
                checkCloser(OpenerKind::brace, MathErrorKind::mismatchedBraces);
                ++m_pos;
                return ListEnd::brace;
            }
            if (c == ']' && !m_stack.empty() && m_stack.back().kind == OpenerKind::bracket) {
                ++m_pos;
                return ListEnd::bracket;
            }
            if (c == '&') {
                checkCloser(OpenerKind::environment, MathErrorKind::missingEnvironment);
                if (m_stack.back().closesWithBrace)
                    fail(MathErrorKind::invalidNumberOfColumns);
                ++m_pos;
                return ListEnd::ampersand;
            }
            if (c == '\\') {
                std::string name = peekCommandName();
                bool rowBreak = name == "cr" || name == "newline" ||
                                (name.empty() && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\\');
                if (rowBreak) {
                    ++m_pos;
                    readCommandName();
                    if (!anyOpen(OpenerKind::environment)) {
                        if (m_stack.empty())
                            return skipRowSpacing(), ListEnd::newline;
                        continue; // outside environments a row break inside a group means nothing
                    }
                    const Opener& inner = m_stack.back();
                    if (inner.kind != OpenerKind::environment)
                        fail(blame(inner));
                    skipRowSpacing();
                    return ListEnd::newline;
                }
                if (name == "right" || name == "middle") {
                    checkCloser(OpenerKind::left, MathErrorKind::missingLeft);
                    ++m_pos;
                    readCommandName();
                    return name == "right" ? ListEnd::right : ListEnd::middle;
                }
                if (name == "end") {
                    checkCloser(OpenerKind::environment, MathErrorKind::missingBegin);
                    ++m_pos;
                    readCommandName();
                    return ListEnd::end;
                }
                if (name == "hline") {
                    ++m_pos;
                    readCommandName();
                    if (!anyOpen(OpenerKind::environment))
                        fail(MathErrorKind::missingEnvironment);
                    if (m_stack.back().kind == OpenerKind::environment && !m_tables.empty())
                        m_tables.back()->horizontalRulesBefore.push_back(int(m_tables.back()->rows.size()) - 1);
                    continue;
                }
                if (name == "over" || name == "choose" || name == "atop" || name == "brace" || name == "brack") {
                    ++m_pos;
                    readCommandName();
                    if (infix.present)
                        fail(MathErrorKind::other);
                    infix.present = true;
                    infix.numerator = std::move(out);
                    out.clear();
                    infix.node.kind = MathNode::Kind::fraction;
                    infix.node.type = MathAtomType::inner;
                    infix.node.rule = name == "over";
                    if (name == "choose") {
                        infix.node.left = '(';
                        infix.node.right = ')';
                    } else if (name == "brace") {
                        infix.node.left = '{';
                        infix.node.right = '}';
                    } else if (name == "brack") {
                        infix.node.left = '[';
                        infix.node.right = ']';
                    }
                    continue;
                }
            }
            parseItem(out);
        }
    }

    void skipRowSpacing() {
        skipSpace();
        if (peek() == '[') {
            size_t close = m_text.find(']', m_pos);
            if (close != std::u32string::npos)
                m_pos = close + 1;
        }
    }

    // One nucleus with its scripts.
    void parseItem(MathList& out) {
        MathNode node;
        char32_t c = peek();
        if (c == '^' || c == '_' || c == '\'') {
            node.kind = MathNode::Kind::group; // an empty base: {}^{14}_{6}C
        } else if (!parseNucleus(node, out)) {
            return;
        }
        parseScripts(node);
        out.push_back(std::move(node));
    }

    void parseScripts(MathNode& node) {
        bool primesOnly = false;
        for (;;) {
            skipSpace();
            char32_t c = peek();
            if (c == '^') {
                if (node.hasSup && !primesOnly)
                    fail(MathErrorKind::other);
                ++m_pos;
                MathList arg = parseScriptArgument();
                for (auto& n : arg)
                    node.sup.push_back(std::move(n));
                node.hasSup = true;
                primesOnly = false;
            } else if (c == '_') {
                if (node.hasSub)
                    fail(MathErrorKind::other);
                ++m_pos;
                node.sub = parseScriptArgument();
                node.hasSub = true;
            } else if (c == '\'') {
                if (node.hasSup)
                    fail(MathErrorKind::other);
                while (peek() == '\'') {
                    ++m_pos;
                    MathNode prime;
                    prime.codePoint = 0x2032;
                    node.sup.push_back(prime);
                }
                node.hasSup = true;
                primesOnly = true;
            } else if (c == '\\') {
                std::string name = peekCommandName();
                if (name != "limits" && name != "nolimits")
                    return;
                if (node.kind != MathNode::Kind::largeOp)
                    fail(MathErrorKind::other);
                ++m_pos;
                readCommandName();
                node.limits = name == "limits" ? 1 : -1;
            } else {
                return;
            }
        }
    }

    MathList parseScriptArgument() {
        skipSpace();
        if (atEnd())
            fail(MathErrorKind::other);
        char32_t c = peek();
        if (c == '{') {
            ++m_pos;
            return parseGroupBody();
        }
        if (c == '}' || c == '&' || c == '^' || c == '_')
            fail(MathErrorKind::other);
        MathList list;
        MathNode node;
        if (parseNucleus(node, list))
            list.push_back(std::move(node));
        return list;
    }

    // A required argument: a braced group or one token.
    MathList parseArgument() {
        skipSpace();
        if (atEnd())
            fail(MathErrorKind::characterNotFound);
        char32_t c = peek();
        if (c == '{') {
            ++m_pos;
            return parseGroupBody();
        }
        if (c == '}')
            fail(anyOpen(OpenerKind::brace) ? MathErrorKind::characterNotFound : MathErrorKind::mismatchedBraces);
        if (c == '&' || c == '^' || c == '_')
            fail(MathErrorKind::characterNotFound);
        if (c == '\\') {
            std::string name = peekCommandName();
            if (name == "right" || name == "middle" || name == "end" || name == "cr" || name == "newline" ||
                (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\\'))
                fail(MathErrorKind::characterNotFound);
        }
        MathList list;
        MathNode node;
        if (parseNucleus(node, list))
            list.push_back(std::move(node));
        return list;
    }

    MathList parseArgumentIn(MathAlphabet alphabet) {
        MathAlphabet saved = m_alphabet;
        m_alphabet = alphabet;
        MathList list = parseArgument();
        m_alphabet = saved;
        return list;
    }

    // After "{": the list up to the matching "}".
    MathList parseGroupBody() {
        MathAlphabet saved = m_alphabet;
        m_stack.push_back({OpenerKind::brace, {}});
        MathList list;
        parseList(list);
        m_stack.pop_back();
        m_alphabet = saved;
        return list;
    }

    // The raw text of a braced argument ("{name}"), for names, colours and dimensions.
    std::u32string parseRawArgument() {
        skipSpace();
        if (peek() != '{')
            fail(MathErrorKind::characterNotFound);
        size_t close = m_text.find('}', m_pos);
        if (close == std::u32string::npos)
            fail(MathErrorKind::mismatchedBraces);
        std::u32string raw = m_text.substr(m_pos + 1, close - m_pos - 1);
        m_pos = close + 1;
        return raw;
    }

    std::optional<MathList> parseOptionalArgument() {
        skipSpace();
        if (peek() != '[')
            return std::nullopt;
        ++m_pos;
        MathAlphabet saved = m_alphabet;
        m_stack.push_back({OpenerKind::bracket, {}});
        MathList list;
        parseList(list);
        m_stack.pop_back();
        m_alphabet = saved;
        return list;
    }

    static MathNode symbol(char32_t c, MathAtomType type, MathAlphabet alphabet = MathAlphabet::normal) {
        MathNode node;
        node.codePoint = c;
        node.type = type;
        node.alphabet = alphabet;
        return node;
    }

    static MathNode space(double em) {
        MathNode node;
        node.kind = MathNode::Kind::space;
        node.number = em;
        return node;
    }

    static MathNode groupOf(MathList list, MathAtomType type = MathAtomType::ord) {
        MathNode node;
        node.kind = MathNode::Kind::group;
        node.type = type;
        node.body = std::move(list);
        return node;
    }

    // Reads a nucleus into `node`. Returns false when the construct was added to `out` by itself or
    // produced nothing (style switches inside the list).
    bool parseNucleus(MathNode& node, MathList& out) {
        char32_t c = m_text[m_pos];
        if (c == '{') {
            ++m_pos;
            node = groupOf(parseGroupBody());
            return true;
        }
        if (c == '\\') {
            ++m_pos;
            return parseCommand(readCommandName(), node, out);
        }
        ++m_pos;
        switch (c) {
        case '+':
            node = symbol('+', MathAtomType::bin);
            return true;
        case '-':
            node = symbol(0x2212, MathAtomType::bin);
            return true;
        case '*':
            node = symbol(0x2217, MathAtomType::bin);
            return true;
        case '=':
        case '<':
        case '>':
        case ':':
            node = symbol(c, MathAtomType::rel);
            return true;
        case ',':
        case ';':
            node = symbol(c, MathAtomType::punct);
            return true;
        case '!':
        case '?':
        case ')':
        case ']':
            node = symbol(c, MathAtomType::close);
            return true;
        case '(':
        case '[':
            node = symbol(c, MathAtomType::open);
            return true;
        case '~':
            node = space(0.333);
            return true;
        case '$':
        case '#':
            fail(MathErrorKind::other);
        case '&':
            fail(MathErrorKind::missingEnvironment);
        default:
            break;
        }
        if (c < 0x80) {
            node = symbol(c, MathAtomType::ord, m_alphabet);
            return true;
        }
        if (const auto* entry = MathSymbols::findCodePoint(c))
            return parseCommand(entry->name, node, out);
        node = symbol(c, MathAtomType::ord, m_alphabet);
        return true;
    }

    char32_t parseDelimiter() {
        skipSpace();
        if (atEnd())
            fail(MathErrorKind::missingDelimiter);
        char32_t c = m_text[m_pos];
        if (c == '\\') {
            ++m_pos;
            std::string name = readCommandName();
            if (name == "{" || name == "lbrace")
                return '{';
            if (name == "}" || name == "rbrace")
                return '}';
            if (name == "|")
                return 0x2016;
            const auto* entry = MathSymbols::find(name);
            if (!entry) {
                if (isKnownCommand(name))
                    fail(MathErrorKind::invalidDelimiter);
                fail(MathErrorKind::unknownCommand);
            }
            if (!isDelimiterCodePoint(entry->codePoint))
                fail(MathErrorKind::invalidDelimiter);
            return entry->codePoint;
        }
        ++m_pos;
        switch (c) {
        case '.':
            return '.';
        case '(':
        case ')':
        case '[':
        case ']':
        case '|':
        case '/':
            return c;
        case '<':
            return 0x27E8;
        case '>':
            return 0x27E9;
        default:
            break;
        }
        if (c >= 0x80 && isDelimiterCodePoint(c))
            return c; // typed ⟨ ⌊ ‖...

        fail(MathErrorKind::invalidDelimiter);
    }

    static bool isKnownCommand(const std::string& name) {
        static const char* const structural[] = {"frac", "dfrac", "tfrac", "cfrac",  "binom", "dbinom", "tbinom",
                                                 "sqrt", "left",  "right", "middle", "text",  "begin",  "end"};
        return std::find_if(std::begin(structural), std::end(structural), [&](const char* s) { return name == s; }) !=
               std::end(structural);
    }

    // A dimension in em: "<number><unit>" with units em ex mu pt.
    double parseDimension(const std::u32string& raw) {
        std::string text;
        for (char32_t c : raw)
            if (c != ' ')
                text += char(c < 0x80 ? c : '?');
        size_t i = 0;
        double sign = 1;
        while (i < text.size() && (text[i] == '-' || text[i] == '+')) {
            if (text[i] == '-')
                sign = -sign;
            ++i;
        }
        size_t start = i;
        while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.'))
            ++i;
        if (i == start)
            fail(MathErrorKind::other);
        bool ok = false;
        double value = QString::fromStdString(text.substr(start, i - start)).toDouble(&ok);
        if (!ok)
            fail(MathErrorKind::other);
        std::string unit = text.substr(i);
        double em;
        if (unit == "em")
            em = value;
        else if (unit == "ex")
            em = value * 0.431;
        else if (unit == "mu")
            em = value * mu;
        else if (unit == "pt")
            em = value / 10;
        else
            fail(MathErrorKind::other);
        return sign * em;
    }

    // "\kern2pt", "\kern{2pt}", "\mkern 3mu".
    double parseInlineDimension() {
        skipSpace();
        if (peek() == '{')
            return parseDimension(parseRawArgument());
        std::u32string raw;
        while (!atEnd() && (m_text[m_pos] == '-' || m_text[m_pos] == '+' || m_text[m_pos] == '.' ||
                            (m_text[m_pos] >= '0' && m_text[m_pos] <= '9') || m_text[m_pos] == ' '))
            raw += m_text[m_pos++];
        for (int i = 0; i < 2 && !atEnd() && isLetter(m_text[m_pos]); ++i)
            raw += m_text[m_pos++];
        return parseDimension(raw);
    }

    QRgb parseColor() {
        std::u32string raw = parseRawArgument();
        QString name = QString::fromStdU32String(raw).trimmed();
        QColor color;
        if (name.size() == 6 && !name.startsWith('#'))
            color = QColor(QStringLiteral("#") + name);
        if (!color.isValid())
            color = QColor::fromString(name);
        if (color.isValid())
            return color.rgb() | 0xFF000000u;
        // A colour name we do not know keeps the current colour; anything else is malformed.
        bool word = !name.isEmpty() && std::all_of(name.begin(), name.end(), [](QChar c) {
            return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
        });
        if (!word)
            fail(MathErrorKind::other);
        return 0;
    }

    MathNode textRun(MathAlphabet alphabet) {
        skipSpace();
        if (atEnd())
            fail(MathErrorKind::characterNotFound);
        MathNode node;
        node.kind = MathNode::Kind::text;
        node.alphabet = alphabet;
        if (peek() != '{') {
            // One token.
            char32_t c = m_text[m_pos++];
            if (c == '\\')
                fail(MathErrorKind::characterNotFound);
            node.text = QString::fromStdU32String(std::u32string(1, c));
            return node;
        }
        ++m_pos;
        std::u32string text;
        int depth = 1;
        m_stack.push_back({OpenerKind::brace, {}});
        for (;;) {
            if (atEnd())
                fail(blame(m_stack.back()));
            char32_t c = m_text[m_pos++];
            if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (--depth == 0)
                    break;
            } else if (c == '\\') {
                if (atEnd())
                    fail(MathErrorKind::other);
                char32_t n = m_text[m_pos];
                if (!isLetter(n)) {
                    ++m_pos;
                    text += n == ' ' ? U'\u00A0' : n;
                } else {
                    std::string name;
                    while (!atEnd() && isLetter(m_text[m_pos]))
                        name += char(m_text[m_pos++]);
                    // Nested text font commands keep their argument's text.
                    static const char* const textFonts[] = {"textbf", "textit", "textrm",     "textsf", "texttt",
                                                            "textup", "textmd", "textnormal", "emph",   "text"};
                    bool known = std::find_if(std::begin(textFonts), std::end(textFonts),
                                              [&](const char* s) { return name == s; }) != std::end(textFonts);
                    if (name == "space" || name == "quad") {
                        text += name == "quad" ? U"\u2003" : U" ";
                    } else if (!known) {
                        fail(MathErrorKind::unknownCommand);
                    }
                }
            } else if (c == '~') {
                text += U'\u00A0';
            } else if (c == '$') {
                fail(MathErrorKind::other);
            } else {
                text += c == '\t' || c == '\n' || c == '\r' ? U' ' : c;
            }
        }
        m_stack.pop_back();
        node.text = QString::fromStdU32String(text);
        return node;
    }

    MathNode namedOperator(const QString& text, bool limits) {
        MathNode node;
        node.kind = MathNode::Kind::largeOp;
        node.type = MathAtomType::op;
        node.text = text;
        node.flags = limits ? 1 : 0;
        return node;
    }

    MathNode parseEnvironment() {
        skipSpace();
        if (peek() != '{')
            fail(MathErrorKind::missingEnvironment);
        ++m_pos;
        std::string name;
        while (!atEnd() && (isLetter(m_text[m_pos]) || m_text[m_pos] == '*'))
            name += char(m_text[m_pos++]);
        if (peek() != '}') {
            if (name.empty() && !atEnd() && m_text[m_pos] == ' ')
                fail(MathErrorKind::missingEnvironment);
            fail(name.empty() ? MathErrorKind::missingEnvironment : MathErrorKind::characterNotFound);
        }
        ++m_pos;
        if (name.empty())
            fail(MathErrorKind::missingEnvironment);
        const EnvironmentInfo* info = findEnvironment(name);
        if (!info)
            fail(MathErrorKind::invalidEnvironment);

        MathTable table;
        table.environment = info->environment;
        int maxColumns = info->maxColumns;
        if (maxColumns == -2) {
            skipSpace();
            if (peek() != '{')
                fail(MathErrorKind::invalidNumberOfColumns);
            bool ok = false;
            int pairs = QString::fromStdU32String(parseRawArgument()).trimmed().toInt(&ok);
            if (!ok || pairs < 1)
                fail(MathErrorKind::invalidNumberOfColumns);
            maxColumns = 2 * pairs;
        } else if (maxColumns < 0) {
            skipSpace();
            if (peek() != '{')
                fail(MathErrorKind::invalidNumberOfColumns);
            std::u32string format = parseRawArgument();
            maxColumns = 0;
            for (char32_t c : format) {
                if (c == 'l' || c == 'c' || c == 'r') {
                    table.columnAlignment += QChar(char16_t(c));
                    ++maxColumns;
                } else if (c == '|') {
                    table.verticalRulesBefore.push_back(maxColumns);
                } else if (c != ' ') {
                    fail(MathErrorKind::invalidNumberOfColumns);
                }
            }
            if (maxColumns == 0)
                fail(MathErrorKind::invalidNumberOfColumns);
        }

        m_stack.push_back({OpenerKind::environment, name});
        m_tables.push_back(&table);
        table.rows.emplace_back();
        for (;;) {
            MathList cell;
            ListEnd end = parseList(cell);
            auto& row = table.rows.back();
            row.push_back(std::move(cell));
            if (maxColumns > 0 && int(row.size()) > maxColumns)
                fail(MathErrorKind::invalidNumberOfColumns);
            if (end == ListEnd::ampersand)
                continue;
            if (end == ListEnd::newline) {
                table.rows.emplace_back();
                continue;
            }
            // \end: its name must be the one begun.
            skipSpace();
            if (peek() != '{')
                fail(MathErrorKind::missingEnvironment);
            ++m_pos;
            std::string endName;
            while (!atEnd() && (isLetter(m_text[m_pos]) || m_text[m_pos] == '*'))
                endName += char(m_text[m_pos++]);
            if (peek() != '}')
                fail(endName.empty() ? MathErrorKind::missingEnvironment : MathErrorKind::characterNotFound);
            ++m_pos;
            if (endName.empty())
                fail(MathErrorKind::missingEnvironment);
            if (endName != name)
                fail(MathErrorKind::invalidEnvironment);
            break;
        }
        m_tables.pop_back();
        m_stack.pop_back();
        // A final row break leaves an empty last row.
        if (table.rows.size() > 1 && table.rows.back().size() == 1 && table.rows.back().front().empty())
            table.rows.pop_back();

        MathNode node;
        node.kind = MathNode::Kind::table;
        node.type = MathAtomType::ord;
        node.tables.push_back(std::move(table));
        return node;
    }

    MathNode parseSubstack() {
        skipSpace();
        if (peek() != '{')
            fail(MathErrorKind::characterNotFound);
        ++m_pos;
        MathTable table;
        table.environment = MathEnvironment::substack;
        m_stack.push_back({OpenerKind::environment, "substack", true});
        m_tables.push_back(&table);
        table.rows.emplace_back();
        for (;;) {
            MathList cell;
            ListEnd end = parseList(cell);
            table.rows.back().push_back(std::move(cell));
            if (end == ListEnd::newline) {
                table.rows.emplace_back();
                continue;
            }
            break; // the closing brace
        }
        m_tables.pop_back();
        m_stack.pop_back();
        MathNode node;
        node.kind = MathNode::Kind::table;
        node.tables.push_back(std::move(table));
        return node;
    }

    MathNode fraction(bool rule, int forcedStyle, char32_t left = 0, char32_t right = 0) {
        MathNode node;
        node.kind = MathNode::Kind::fraction;
        node.type = MathAtomType::inner;
        node.rule = rule;
        node.forcedStyle = forcedStyle;
        node.left = left;
        node.right = right;
        node.body = parseArgument();
        node.second = parseArgument();
        return node;
    }

    bool parseCommand(const std::string& name, MathNode& node, MathList& out) {
        using K = MathNode::Kind;
        // Fractions and stacks.
        if (name == "frac")
            return node = fraction(true, -1), true;
        if (name == "dfrac")
            return node = fraction(true, 0), true;
        if (name == "tfrac")
            return node = fraction(true, 1), true;
        if (name == "cfrac")
            return node = fraction(true, 10), true;
        if (name == "binom")
            return node = fraction(false, -1, '(', ')'), true;
        if (name == "dbinom")
            return node = fraction(false, 0, '(', ')'), true;
        if (name == "tbinom")
            return node = fraction(false, 1, '(', ')'), true;
        if (name == "sqrt") {
            node.kind = K::radical;
            if (auto index = parseOptionalArgument())
                node.second = std::move(*index);
            node.body = parseArgument();
            return true;
        }
        if (name == "left") {
            node.kind = K::fenced;
            node.type = MathAtomType::inner;
            node.left = parseDelimiter();
            m_stack.push_back({OpenerKind::left, {}});
            for (;;) {
                MathList segment;
                ListEnd end = parseList(segment);
                node.cells.push_back(std::move(segment));
                char32_t delimiter = parseDelimiter();
                if (end == ListEnd::middle) {
                    node.middles.push_back(delimiter);
                    continue;
                }
                node.right = delimiter;
                break;
            }
            m_stack.pop_back();
            return true;
        }
        static const std::array<std::pair<const char*, double>, 4> bigSizes{
            {{"big", 1.2}, {"Big", 1.8}, {"bigg", 2.4}, {"Bigg", 3.0}}};
        for (const auto& [base, size] : bigSizes) {
            std::string b = base;
            if (name == b || name == b + "l" || name == b + "r" || name == b + "m") {
                node.kind = K::bigDelimiter;
                node.number = size;
                char suffix = name.size() > b.size() ? name.back() : 0;
                node.type = suffix == 'l'   ? MathAtomType::open
                            : suffix == 'r' ? MathAtomType::close
                            : suffix == 'm' ? MathAtomType::rel
                                            : MathAtomType::ord;
                node.codePoint = parseDelimiter();
                return true;
            }
        }
        // Over and under constructions.
        if (name == "overline" || name == "underline" || name == "underbar") {
            node.kind = K::lineOver;
            node.flags = name == "overline" ? 1 : 0;
            node.body = parseArgument();
            return true;
        }
        if (name == "overset" || name == "underset" || name == "stackrel") {
            node.kind = K::overUnder;
            node.flags = name == "underset" ? 0 : 1;
            node.second = parseArgument();
            node.body = parseArgument();
            node.type = MathAtomType::ord;
            if (name == "stackrel")
                node.type = MathAtomType::rel;
            else if (node.body.size() == 1)
                node.type = node.body.front().type; // \underset{x}{\lim} stays an operator
            return true;
        }
        if (name == "xrightarrow" || name == "xleftarrow" || name == "xleftrightarrow" || name == "xRightarrow" ||
            name == "xLeftarrow" || name == "xLeftrightarrow" || name == "xmapsto" || name == "xlongequal" ||
            name == "xhookrightarrow" || name == "xhookleftarrow" || name == "xrightleftharpoons" ||
            name == "xleftrightharpoons") {
            node.kind = K::arrowLabel;
            node.type = MathAtomType::rel;
            static const std::array<std::pair<const char*, char32_t>, 12> arrows{{{"xrightarrow", 0x2192},
                                                                                  {"xrightleftharpoons", 0x21CC},
                                                                                  {"xleftrightharpoons", 0x21CB},
                                                                                  {"xleftarrow", 0x2190},
                                                                                  {"xleftrightarrow", 0x2194},
                                                                                  {"xRightarrow", 0x21D2},
                                                                                  {"xLeftarrow", 0x21D0},
                                                                                  {"xLeftrightarrow", 0x21D4},
                                                                                  {"xmapsto", 0x21A6},
                                                                                  {"xlongequal", '='},
                                                                                  {"xhookrightarrow", 0x21AA},
                                                                                  {"xhookleftarrow", 0x21A9}}};
            for (const auto& [n, cp] : arrows)
                if (name == n)
                    node.codePoint = cp;
            if (auto below = parseOptionalArgument())
                node.third = std::move(*below);
            node.second = parseArgument();
            return true;
        }
        if (name == "boxed") {
            node.kind = K::boxed;
            node.body = parseArgument();
            return true;
        }
        if (name == "phantom" || name == "hphantom" || name == "vphantom") {
            node.kind = K::phantom;
            node.flags = name == "phantom" ? 3 : name == "hphantom" ? 1 : 2;
            node.body = parseArgument();
            return true;
        }
        if (name == "mathstrut") {
            node.kind = K::phantom;
            node.flags = 2;
            node.body.push_back(symbol('(', MathAtomType::open));
            return true;
        }
        if (name == "substack") {
            node = parseSubstack();
            return true;
        }
        // Text and fonts.
        static const std::array<std::pair<const char*, MathAlphabet>, 11> textFonts{
            {{"text", MathAlphabet::roman},
             {"textrm", MathAlphabet::roman},
             {"textup", MathAlphabet::roman},
             {"textnormal", MathAlphabet::roman},
             {"textmd", MathAlphabet::roman},
             {"textbf", MathAlphabet::bold},
             {"textit", MathAlphabet::italic},
             {"emph", MathAlphabet::italic},
             {"textsf", MathAlphabet::sansSerif},
             {"texttt", MathAlphabet::monospace},
             {"mbox", MathAlphabet::roman}}};
        for (const auto& [n, alphabet] : textFonts)
            if (name == n)
                return node = textRun(alphabet), true;
        static const std::array<std::pair<const char*, MathAlphabet>, 15> mathFonts{
            {{"mathrm", MathAlphabet::roman},
             {"mathbf", MathAlphabet::bold},
             {"mathit", MathAlphabet::italic},
             {"mathcal", MathAlphabet::calligraphic},
             {"mathbb", MathAlphabet::blackboard},
             {"mathfrak", MathAlphabet::fraktur},
             {"mathsf", MathAlphabet::sansSerif},
             {"mathtt", MathAlphabet::monospace},
             {"mathnormal", MathAlphabet::normal},
             {"boldsymbol", MathAlphabet::boldSymbol},
             {"bm", MathAlphabet::boldSymbol},
             {"bold", MathAlphabet::bold},
             {"Bbb", MathAlphabet::blackboard},
             {"frak", MathAlphabet::fraktur},
             {"mathscr", MathAlphabet::calligraphic}}};
        for (const auto& [n, alphabet] : mathFonts)
            if (name == n)
                return node = groupOf(parseArgumentIn(alphabet)), true;
        static const std::array<std::pair<const char*, MathAlphabet>, 6> fontSwitches{
            {{"rm", MathAlphabet::roman},
             {"bf", MathAlphabet::bold},
             {"it", MathAlphabet::italic},
             {"sf", MathAlphabet::sansSerif},
             {"tt", MathAlphabet::monospace},
             {"cal", MathAlphabet::calligraphic}}};
        for (const auto& [n, alphabet] : fontSwitches)
            if (name == n)
                return m_alphabet = alphabet, false;
        static const std::array<std::pair<const char*, int>, 4> styles{
            {{"displaystyle", 0}, {"textstyle", 1}, {"scriptstyle", 2}, {"scriptscriptstyle", 3}}};
        for (const auto& [n, level] : styles) {
            if (name == n) {
                MathNode change;
                change.kind = K::styleChange;
                change.number = level;
                out.push_back(std::move(change));
                return false;
            }
        }
        if (name == "color") {
            MathNode change;
            change.kind = K::colorChange;
            change.color = parseColor();
            out.push_back(std::move(change));
            return false;
        }
        if (name == "textcolor") {
            MathNode change;
            change.kind = K::colorChange;
            change.color = parseColor();
            MathList body;
            body.push_back(std::move(change));
            for (auto& n : parseArgument())
                body.push_back(std::move(n));
            node = groupOf(std::move(body));
            return true;
        }
        static const std::array<std::pair<const char*, MathAtomType>, 8> classes{{{"mathord", MathAtomType::ord},
                                                                                  {"mathop", MathAtomType::op},
                                                                                  {"mathbin", MathAtomType::bin},
                                                                                  {"mathrel", MathAtomType::rel},
                                                                                  {"mathopen", MathAtomType::open},
                                                                                  {"mathclose", MathAtomType::close},
                                                                                  {"mathpunct", MathAtomType::punct},
                                                                                  {"mathinner", MathAtomType::inner}}};
        for (const auto& [n, type] : classes)
            if (name == n)
                return node = groupOf(parseArgument(), type), true;
        // Operators.
        if (name == "operatorname" || name == "operatorname*" || name == "operatornamewithlimits") {
            node = namedOperator({}, name != "operatorname");
            node.body = parseArgumentIn(MathAlphabet::roman);
            return true;
        }
        if (const NamedFunction* f = findNamedFunction(name))
            return node = namedOperator(QString::fromUtf8(f->text), f->limits), true;
        if (name == "bmod") {
            node = namedOperator(QStringLiteral("mod"), false);
            node.kind = K::text;
            node.alphabet = MathAlphabet::roman;
            node.type = MathAtomType::bin;
            return true;
        }
        if (name == "pmod" || name == "pod" || name == "mod") {
            out.push_back(space(name == "mod" ? 1.0 : 1.0));
            MathList body;
            if (name != "mod")
                body.push_back(symbol('(', MathAtomType::open));
            if (name != "pod") {
                MathNode word;
                word.kind = K::text;
                word.alphabet = MathAlphabet::roman;
                word.text = QStringLiteral("mod");
                body.push_back(std::move(word));
                body.push_back(space(6 * mu));
            }
            for (auto& n : parseArgument())
                body.push_back(std::move(n));
            if (name != "mod")
                body.push_back(symbol(')', MathAtomType::close));
            node = groupOf(std::move(body));
            return true;
        }
        if (name == "not") {
            skipSpace();
            if (atEnd())
                fail(MathErrorKind::characterNotFound);
            MathNode next;
            MathList extra;
            if (!parseNucleus(next, extra))
                fail(MathErrorKind::other);
            if (next.kind == K::symbol) {
                if (char32_t n = negated(next.codePoint)) {
                    next.codePoint = n;
                    node = std::move(next);
                    return true;
                }
            }
            node.kind = K::negation;
            node.type = next.type;
            node.body.push_back(std::move(next));
            return true;
        }
        // Spaces.
        static const std::array<std::pair<const char*, double>, 17> spaces{{{",", 3 * mu},
                                                                            {":", 4 * mu},
                                                                            {">", 4 * mu},
                                                                            {";", 5 * mu},
                                                                            {"!", -3 * mu},
                                                                            {"quad", 1.0},
                                                                            {"qquad", 2.0},
                                                                            {"thinspace", 3 * mu},
                                                                            {"medspace", 4 * mu},
                                                                            {"thickspace", 5 * mu},
                                                                            {"negthinspace", -3 * mu},
                                                                            {"negmedspace", -4 * mu},
                                                                            {"negthickspace", -5 * mu},
                                                                            {"enspace", 0.5},
                                                                            {" ", 0.333},
                                                                            {"space", 0.333},
                                                                            {"nobreakspace", 0.333}}};
        for (const auto& [n, em] : spaces)
            if (name == n)
                return node = space(em), true;
        if (name == "hspace" || name == "hspace*")
            return node = space(parseDimension(parseRawArgument())), true;
        if (name == "kern" || name == "mkern" || name == "hskip" || name == "mskip")
            return node = space(parseInlineDimension()), true;
        if (name == "begin")
            return node = parseEnvironment(), true;
        if (name == "limits" || name == "nolimits")
            fail(MathErrorKind::other);
        if (name == "{" || name == "lbrace")
            return node = symbol('{', MathAtomType::open), true;
        if (name == "}" || name == "rbrace")
            return node = symbol('}', MathAtomType::close), true;
        if (name == "|")
            return node = symbol(0x2016, MathAtomType::ord), true;
        // Symbols, big operators and accents from the table.
        const auto* entry = MathSymbols::find(name);
        if (!entry)
            fail(MathErrorKind::unknownCommand);
        using C = MathSymbols::SymbolClass;
        if (entry->symbolClass == C::accent) {
            bool stretchy = entry->codePoint == 0x23DE || entry->codePoint == 0x23DF || entry->codePoint == 0x2190 ||
                            entry->codePoint == 0x2192 || entry->codePoint == 0x2194;
            if (stretchy) {
                node.kind = K::overUnder;
                node.codePoint = entry->codePoint;
                node.flags = name.rfind("under", 0) == 0 ? 0 : 1;
                if (entry->codePoint == 0x23DE || entry->codePoint == 0x23DF)
                    node.flags |= 2; // a brace: its scripts become labels
                node.body = parseArgument();
                return true;
            }
            node.kind = K::accent;
            node.codePoint = entry->codePoint;
            node.flags = name.rfind("wide", 0) == 0 ? 1 : 0;
            node.body = parseArgument();
            return true;
        }
        if (entry->symbolClass == C::space)
            return node = space(0.333), true;
        if (entry->symbolClass == C::op) {
            node.kind = K::largeOp;
            node.type = MathAtomType::op;
            node.codePoint = entry->codePoint;
            return true;
        }
        node = symbol(entry->codePoint, typeOf(entry->symbolClass));
        // Greek and other letters follow the alphabet of their group (\mathbf{\alpha}).
        node.alphabet = m_alphabet;
        return true;
    }
};

} // namespace

namespace MathParser {

MathParseResult parse(const QString& source) {
    try {
        Parser parser(source);
        return {parser.parseFormula(), std::nullopt};
    } catch (const ParseFailure& failure) {
        return {std::nullopt, failure.kind};
    }
}

} // namespace MathParser
