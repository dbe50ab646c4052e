#pragma once

#include <QRgb>
#include <QString>

#include <cstdint>
#include <vector>

// The math list: what the parser makes of a LaTeX math source and the layout engine turns into boxes.
// Plain values; a list owns its nodes.

enum class MathAtomType { ord, op, bin, rel, open, close, punct, inner };

// Alphabet of letters and digits (\mathbf, \mathbb...) and the text fonts of \text-like runs.
enum class MathAlphabet {
    normal,
    roman,
    bold,
    italic,
    calligraphic,
    blackboard,
    fraktur,
    sansSerif,
    monospace,
    boldSymbol
};

enum class MathEnvironment {
    matrix,
    pmatrix,
    bmatrix,
    Bmatrix,
    vmatrix,
    Vmatrix,
    smallmatrix,
    cases,
    dcases,
    rcases,
    aligned,
    gathered,
    array,
    substack,
    lines
};

struct MathNode;
using MathList = std::vector<MathNode>;

struct MathTable {
    MathEnvironment environment = MathEnvironment::matrix;
    std::vector<std::vector<MathList>> rows;
    QString columnAlignment;                // one of l c r per column (array); empty: by environment
    std::vector<int> verticalRulesBefore;   // column indices with a vertical rule before them
    std::vector<int> horizontalRulesBefore; // row indices with a rule above them (rows.size() = below the last)
};

struct MathNode {
    enum class Kind {
        symbol,       // codePoint in `alphabet`
        group,        // body, laid out as one Ord sub-formula
        fraction,     // body over second; `rule` false for \binom-like stacks; delimiters in left/right
        radical,      // body under the surd, second the degree (may be empty)
        largeOp,      // a big operator glyph (codePoint) or a named function (text)
        fenced,       // \left left body (\middle segment)* \right right; segments in `cells`
        bigDelimiter, // \big-like: codePoint at size `number` (em)
        accent,       // mark codePoint over body; `flags` wide
        overUnder,    // body with second above (flags & over) or below; codePoint a stretchy brace/arrow or 0
        lineOver,     // \overline (flags 1) or \underline (flags 0)
        arrowLabel,   // \xrightarrow-like: arrow codePoint, second above, third below
        text,         // text run in `alphabet`
        space,        // horizontal space of `number` em (mu already converted)
        styleChange,  // the rest of the list in style `number` (0 D, 1 T, 2 S, 3 SS)
        colorChange,  // the rest of the list in `color`
        table,        // an environment
        phantom,      // invisible body; flags: 1 keep width, 2 keep height
        boxed,        // body in a frame
        negation,     // \not: a slash over the next atom
    };

    Kind kind = Kind::symbol;
    MathAtomType type = MathAtomType::ord;
    MathAlphabet alphabet = MathAlphabet::normal;
    char32_t codePoint = 0;
    char32_t left = 0, right = 0; // delimiters of fractions and fenced lists (0: none, '.' null delimiter)
    std::vector<char32_t> middles;
    QString text;
    double number = 0;
    int flags = 0;
    int limits = 0; // large operators: 0 automatic, 1 \limits, -1 \nolimits
    bool rule = true;
    int forcedStyle = -1; // fractions: \dfrac 0, \tfrac 1; cfrac 10
    QRgb color = 0;
    MathList body, second, third;
    std::vector<MathList> cells; // fenced segments
    MathList sup, sub;
    bool hasSup = false, hasSub = false;
    std::vector<MathTable> tables; // at most one
};
