// Text as the search compares it. A caption and a query are both folded to
// one search form, and every comparison of the search is a plain byte
// comparison of folded texts: "Café" and "cafe", "Straße" and "strasse",
// "ÉTAGE" and "etage" fold to the same bytes.
//
// Folding puts letters in lower case (Latin, Greek, Cyrillic, full-width
// Latin), takes the accents off Latin letters and spells the Latin letters
// that have no accent-free form out (ß ss, æ ae, œ oe, þ th, ĳ ij), drops
// combining marks and invisible format characters, writes typographic dashes
// and quotes as their ASCII forms, and turns every run of white space (space,
// tab, line breaks, no-break spaces) and of Latin-1 symbols into one space,
// with none at either end. Other characters stay as they are. Bytes that are
// not valid UTF-8 pass through unchanged, so the same bytes fold the same way
// on both sides.
//
// A word of folded text is a run of ASCII letters and digits and of
// non-ASCII characters (after folding, every non-ASCII character that is left
// is a letter or a sign of a script the folding does not know, and counts as
// part of a word). Everything else separates words.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kevra::search {

// Appends the search form of `text` to `out`.
void FoldText(std::string_view text, std::string& out);
std::string FoldText(std::string_view text);

// Whether a byte of folded text belongs to a word.
inline bool IsWordByte(unsigned char c) {
    return c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The number of characters (code points; stray bytes count one each) of
// UTF-8 text: how long a word is to a person.
size_t LetterCount(std::string_view text);

// Calls `word(begin, end)` for every word of folded `text`, in order; begin
// and end are byte offsets.
template <class F>
void ForEachWord(std::string_view text, F&& word) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        while (i < n && !IsWordByte(static_cast<unsigned char>(text[i]))) ++i;
        if (i == n) break;
        const size_t begin = i;
        while (i < n && IsWordByte(static_cast<unsigned char>(text[i]))) ++i;
        word(begin, i);
    }
}

}  // namespace kevra::search
