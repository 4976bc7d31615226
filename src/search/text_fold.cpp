// Folding text to the search form: the tables of the Latin letters with
// their accent-free forms, over the UTF-8 reading of platform/utf8.h.
#include "search/text_fold.h"

#include <cstdint>

#include "platform/ascii.h"
#include "platform/json.h"
#include "platform/utf8.h"

namespace kevra::search {

namespace {

// What a character folds to: letters to append, the character itself (as
// the code point the caller was given back, lower-cased where that applies),
// a blank (a run of blanks becomes one space), or nothing.
struct Folded {
    enum Kind : uint8_t { letters, keep, blank, none } kind;
    std::string_view text;
};

constexpr Folded Letters(std::string_view s) { return {Folded::letters, s}; }
constexpr Folded kKeep{Folded::keep, {}};
constexpr Folded kBlank{Folded::blank, {}};
constexpr Folded kNone{Folded::none, {}};

// U+00C0..U+00FF. × and ÷ are symbols.
constexpr std::string_view kLatin1[64] = {
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i",  "i",
    "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "ss",
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i",  "i",
    "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "y"};

// U+0100..U+017F, one letter each; '1' stands for ij, '2' for oe.
constexpr std::string_view kLatinExtendedA =
    "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiii11jjkkkllllllllllnnnnnnnnnoooooo22rrrrrr"
    "ssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";

// U+0180..U+024F: '.' keeps the character; '3' to ';' stand for two letters.
constexpr std::string_view kLatinExtendedB =
    "bbbb..occdddd.eeeffg.3iikkl.mnnooo44pp.....ttttuu.vyyzz.............555666777aaiioouuuuu"
    "uuuuueaaaa88ggggkkoooo..j555gg3wnnaa88ooaaaaeeeeiiiioooorrrruuuusstt..hhnd99zzaaeeoooooo"
    "ooyylntj:;accltsz..buveejjqqrryy";
constexpr std::string_view kTwoLetters[] = {"hv", "oi", "dz", "lj", "nj", "ae", "ou", "db", "qp"};

// U+1E00..U+1EFF, one letter each; '1' stands for ss, '2' for ll.
constexpr std::string_view kLatinExtendedAdditional =
    "aabbbbbbccddddddddddeeeeeeeeeeffgghhhhhhhhhhiiiikkkkkkllllllllmmmmmmnnnnnnnnoooooooopppp"
    "rrrrrrrrsssssssssstttttttt"
    "uuuuuuuuuuvvvvwwwwwwwwwwxxxxyyzzzzzz"
    "htwyasss1d"
    "aaaaaaaaaaaaaaaaaaaaaaaa"
    "eeeeeeeeeeeeeeee"
    "iiii"
    "oooooooooooooooooooooooo"
    "uuuuuuuuuuuuuu"
    "yyyyyyyy"
    "22vvyy";

static_assert(kLatinExtendedA.size() == 0x80);
static_assert(kLatinExtendedB.size() == 0xD0);
static_assert(kLatinExtendedAdditional.size() == 0x100);

// A letter of one of the tables below; `pairs` are what '1' and '2' stand for.
Folded FromTable(std::string_view table, uint32_t index, const std::string_view (&pairs)[2]) {
    const char c = table[index];
    if (c == '.') return kKeep;
    if (c == '1' || c == '2') return Letters(pairs[c - '1']);
    if (c >= '3' && c <= ';') return Letters(kTwoLetters[c - '3']);
    return Letters(std::string_view(&table[index], 1));
}

constexpr std::string_view kPairsA[2] = {"ij", "oe"};
constexpr std::string_view kPairsAdditional[2] = {"ss", "ll"};

// The lower-case, accent-free form of a Greek or Cyrillic letter, or the
// character itself.
uint32_t LowerGreekCyrillic(uint32_t cp) {
    if (cp >= 0x0391 && cp <= 0x03A9 && cp != 0x03A2) return cp + 0x20;
    switch (cp) {
        case 0x0386:
        case 0x03AC:
            return 0x03B1;  // alpha
        case 0x0388:
        case 0x03AD:
            return 0x03B5;  // epsilon
        case 0x0389:
        case 0x03AE:
            return 0x03B7;  // eta
        case 0x038A:
        case 0x0390:
        case 0x03AA:
        case 0x03AF:
        case 0x03CA:
            return 0x03B9;  // iota
        case 0x038C:
        case 0x03CC:
            return 0x03BF;  // omicron
        case 0x038E:
        case 0x03AB:
        case 0x03B0:
        case 0x03CB:
        case 0x03CD:
            return 0x03C5;  // upsilon
        case 0x038F:
        case 0x03CE:
            return 0x03C9;  // omega
        case 0x03C2:
            return 0x03C3;  // final sigma
        case 0x0401:
        case 0x0451:
            return 0x0435;  // io as ie
        default:
            break;
    }
    if (cp >= 0x0410 && cp <= 0x042F) return cp + 0x20;
    if (cp >= 0x0400 && cp <= 0x040F) return cp + 0x50;
    return cp;
}

// What a non-ASCII character folds to. For kKeep, `keep` is the character
// to write: `cp` itself, or its lower-case form.
Folded FoldCodePoint(uint32_t cp, uint32_t& keep) {
    keep = cp;
    if (cp >= 0xC0 && cp <= 0xFF) {
        const std::string_view s = kLatin1[cp - 0xC0];
        return s.empty() ? kBlank : Letters(s);
    }
    if (cp >= 0xA0 && cp < 0xC0) {
        switch (cp) {
            case 0xAA:
                return Letters("a");  // feminine ordinal
            case 0xBA:
                return Letters("o");  // masculine ordinal
            case 0xB2:
                return Letters("2");
            case 0xB3:
                return Letters("3");
            case 0xB9:
                return Letters("1");
            case 0xB5:
                keep = 0x03BC;
                return kKeep;  // micro sign as mu
            case 0xAD:
                return kNone;  // soft hyphen, invisible
            default:
                return kBlank;
        }
    }
    if (cp >= 0x0100 && cp <= 0x017F) return FromTable(kLatinExtendedA, cp - 0x0100, kPairsA);
    if (cp >= 0x0180 && cp <= 0x024F) return FromTable(kLatinExtendedB, cp - 0x0180, kPairsA);
    if (cp >= 0x1E00 && cp <= 0x1EFF)
        return FromTable(kLatinExtendedAdditional, cp - 0x1E00, kPairsAdditional);
    // Combining marks: the accents of decomposed text.
    if ((cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x1AB0 && cp <= 0x1AFF) ||
        (cp >= 0x1DC0 && cp <= 0x1DFF) || (cp >= 0x20D0 && cp <= 0x20FF) ||
        (cp >= 0xFE20 && cp <= 0xFE2F))
        return kNone;
    if (cp >= 0x0370 && cp <= 0x04FF) {
        keep = LowerGreekCyrillic(cp);
        return kKeep;
    }
    if (cp >= 0x2000 && cp <= 0x206F) {
        if (cp >= 0x2010 && cp <= 0x2015) return Letters("-");
        if (cp >= 0x2018 && cp <= 0x201B) return Letters("'");
        if (cp >= 0x201C && cp <= 0x201F) return Letters("\"");
        if ((cp >= 0x200B && cp <= 0x200F) || (cp >= 0x202A && cp <= 0x202E) || cp >= 0x2060)
            return kNone;  // zero-width and direction marks
        return kBlank;
    }
    if (cp == 0x3000) return kBlank;
    if (cp == 0xFEFF) return kNone;
    if (cp >= 0xFF01 && cp <= 0xFF5E) {  // full-width ASCII
        keep = static_cast<unsigned char>(LowerAscii(static_cast<char>(cp - 0xFEE0)));
        return kKeep;
    }
    return kKeep;
}

constexpr bool IsAsciiBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

void FoldText(std::string_view text, std::string& out) {
    const size_t start = out.size();
    bool blank = false;  // a blank is owed before the next character
    // Writes the blank owed, if any, before the next character.
    const auto settle = [&] {
        if (blank && out.size() > start) out += ' ';
        blank = false;
    };
    const auto emit = [&](std::string_view s) {
        if (s.empty()) return;
        settle();
        out += s;
    };
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            // Most text is ASCII: one byte, one table-free step.
            if (IsAsciiBlank(c)) {
                blank = true;
            } else {
                settle();
                out += LowerAscii(static_cast<char>(c));
            }
            ++i;
            continue;
        }
        const size_t len = ValidUtf8Length(text, i);
        if (len == 0) {
            emit(text.substr(i, 1));
            ++i;
            continue;
        }
        const uint32_t cp = Utf8CodePoint(text, i, len);
        uint32_t keep = cp;
        const Folded f = FoldCodePoint(cp, keep);
        switch (f.kind) {
            case Folded::letters:
                emit(f.text);
                break;
            case Folded::keep:
                // A character that stays as it is keeps its own bytes.
                if (keep == cp) {
                    emit(text.substr(i, len));
                } else {
                    settle();
                    json::AppendUtf8(out, keep);
                }
                break;
            case Folded::blank:
                blank = true;
                break;
            case Folded::none:
                break;
        }
        i += len;
    }
}

std::string FoldText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    FoldText(text, out);
    return out;
}

size_t LetterCount(std::string_view text) {
    size_t n = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace kevra::search
