#ifndef FAX_CODES_H
#define FAX_CODES_H

// The run-length code words of ITU-T T.4 (Tables 2 and 3, with the extended make-up codes shared
// by both colours) and the decoding tables generated from them at compile time.

#include <array>
#include <cstdint>

struct FaxCode {
  uint16_t code;    // the code word, right-aligned
  uint16_t length;  // bits; 0 for an empty entry
};

struct FaxRun {
  uint16_t run;     // run length the code stands for
  uint16_t length;  // bits of the code; 0: no code starts with these bits
};

namespace fax {

// Builds a code from its written form ("00110101") so the tables read like the standard.
constexpr FaxCode bits(const char* s) {
  uint16_t v = 0, n = 0;
  for (; s[n] != '\0'; ++n) v = static_cast<uint16_t>((v << 1) | (s[n] == '1' ? 1 : 0));
  return FaxCode{v, n};
}

inline constexpr int kMaxShortRun = 63;
inline constexpr int kLongCodes = 41;   // make-up codes 64 * i, i = 1..40
inline constexpr int kMaxMakeUp = 2560;

}  // namespace fax

// Terminating codes of runs 0-63.
inline constexpr std::array<FaxCode, 64> whiteShortCodeTab = {
    fax::bits("00110101"), fax::bits("000111"),   fax::bits("0111"),     fax::bits("1000"),
    fax::bits("1011"),     fax::bits("1100"),     fax::bits("1110"),     fax::bits("1111"),
    fax::bits("10011"),    fax::bits("10100"),    fax::bits("00111"),    fax::bits("01000"),
    fax::bits("001000"),   fax::bits("000011"),   fax::bits("110100"),   fax::bits("110101"),
    fax::bits("101010"),   fax::bits("101011"),   fax::bits("0100111"),  fax::bits("0001100"),
    fax::bits("0001000"),  fax::bits("0010111"),  fax::bits("0000011"),  fax::bits("0000100"),
    fax::bits("0101000"),  fax::bits("0101011"),  fax::bits("0010011"),  fax::bits("0100100"),
    fax::bits("0011000"),  fax::bits("00000010"), fax::bits("00000011"), fax::bits("00011010"),
    fax::bits("00011011"), fax::bits("00010010"), fax::bits("00010011"), fax::bits("00010100"),
    fax::bits("00010101"), fax::bits("00010110"), fax::bits("00010111"), fax::bits("00101000"),
    fax::bits("00101001"), fax::bits("00101010"), fax::bits("00101011"), fax::bits("00101100"),
    fax::bits("00101101"), fax::bits("00000100"), fax::bits("00000101"), fax::bits("00001010"),
    fax::bits("00001011"), fax::bits("01010010"), fax::bits("01010011"), fax::bits("01010100"),
    fax::bits("01010101"), fax::bits("00100100"), fax::bits("00100101"), fax::bits("01011000"),
    fax::bits("01011001"), fax::bits("01011010"), fax::bits("01011011"), fax::bits("01001010"),
    fax::bits("01001011"), fax::bits("00110010"), fax::bits("00110011"), fax::bits("00110100"),
};

inline constexpr std::array<FaxCode, 64> blackShortCodeTab = {
    fax::bits("0000110111"),   fax::bits("010"),          fax::bits("11"),
    fax::bits("10"),           fax::bits("011"),          fax::bits("0011"),
    fax::bits("0010"),         fax::bits("00011"),        fax::bits("000101"),
    fax::bits("000100"),       fax::bits("0000100"),      fax::bits("0000101"),
    fax::bits("0000111"),      fax::bits("00000100"),     fax::bits("00000111"),
    fax::bits("000011000"),    fax::bits("0000010111"),   fax::bits("0000011000"),
    fax::bits("0000001000"),   fax::bits("00001100111"),  fax::bits("00001101000"),
    fax::bits("00001101100"),  fax::bits("00000110111"),  fax::bits("00000101000"),
    fax::bits("00000010111"),  fax::bits("00000011000"),  fax::bits("000011001010"),
    fax::bits("000011001011"), fax::bits("000011001100"), fax::bits("000011001101"),
    fax::bits("000001101000"), fax::bits("000001101001"), fax::bits("000001101010"),
    fax::bits("000001101011"), fax::bits("000011010010"), fax::bits("000011010011"),
    fax::bits("000011010100"), fax::bits("000011010101"), fax::bits("000011010110"),
    fax::bits("000011010111"), fax::bits("000001101100"), fax::bits("000001101101"),
    fax::bits("000011011010"), fax::bits("000011011011"), fax::bits("000001010100"),
    fax::bits("000001010101"), fax::bits("000001010110"), fax::bits("000001010111"),
    fax::bits("000001100100"), fax::bits("000001100101"), fax::bits("000001010010"),
    fax::bits("000001010011"), fax::bits("000000100100"), fax::bits("000000110111"),
    fax::bits("000000111000"), fax::bits("000000100111"), fax::bits("000000101000"),
    fax::bits("000001011000"), fax::bits("000001011001"), fax::bits("000000101011"),
    fax::bits("000000101100"), fax::bits("000001011010"), fax::bits("000001100110"),
    fax::bits("000001100111"),
};

// Make-up codes: entry i codes the run 64 * i (1-27 per colour, 28-40 shared); entry 0 is empty.
inline constexpr std::array<FaxCode, fax::kLongCodes> whiteLongCodeTab = {
    FaxCode{0, 0},
    fax::bits("11011"),        fax::bits("10010"),        fax::bits("010111"),
    fax::bits("0110111"),      fax::bits("00110110"),     fax::bits("00110111"),
    fax::bits("01100100"),     fax::bits("01100101"),     fax::bits("01101000"),
    fax::bits("01100111"),     fax::bits("011001100"),    fax::bits("011001101"),
    fax::bits("011010010"),    fax::bits("011010011"),    fax::bits("011010100"),
    fax::bits("011010101"),    fax::bits("011010110"),    fax::bits("011010111"),
    fax::bits("011011000"),    fax::bits("011011001"),    fax::bits("011011010"),
    fax::bits("011011011"),    fax::bits("010011000"),    fax::bits("010011001"),
    fax::bits("010011010"),    fax::bits("011000"),       fax::bits("010011011"),
    fax::bits("00000001000"),  fax::bits("00000001100"),  fax::bits("00000001101"),
    fax::bits("000000010010"), fax::bits("000000010011"), fax::bits("000000010100"),
    fax::bits("000000010101"), fax::bits("000000010110"), fax::bits("000000010111"),
    fax::bits("000000011100"), fax::bits("000000011101"), fax::bits("000000011110"),
    fax::bits("000000011111"),
};

inline constexpr std::array<FaxCode, fax::kLongCodes> blackLongCodeTab = {
    FaxCode{0, 0},
    fax::bits("0000001111"),    fax::bits("000011001000"),  fax::bits("000011001001"),
    fax::bits("000001011011"),  fax::bits("000000110011"),  fax::bits("000000110100"),
    fax::bits("000000110101"),  fax::bits("0000001101100"), fax::bits("0000001101101"),
    fax::bits("0000001001010"), fax::bits("0000001001011"), fax::bits("0000001001100"),
    fax::bits("0000001001101"), fax::bits("0000001110010"), fax::bits("0000001110011"),
    fax::bits("0000001110100"), fax::bits("0000001110101"), fax::bits("0000001110110"),
    fax::bits("0000001110111"), fax::bits("0000001010010"), fax::bits("0000001010011"),
    fax::bits("0000001010100"), fax::bits("0000001010101"), fax::bits("0000001011010"),
    fax::bits("0000001011011"), fax::bits("0000001100100"), fax::bits("0000001100101"),
    fax::bits("00000001000"),   fax::bits("00000001100"),   fax::bits("00000001101"),
    fax::bits("000000010010"),  fax::bits("000000010011"),  fax::bits("000000010100"),
    fax::bits("000000010101"),  fax::bits("000000010110"),  fax::bits("000000010111"),
    fax::bits("000000011100"),  fax::bits("000000011101"),  fax::bits("000000011110"),
    fax::bits("000000011111"),
};

// Indexed by colour: 0 white, 1 black.
inline constexpr const std::array<FaxCode, 64>* shortTabs[2] = {&whiteShortCodeTab,
                                                                &blackShortCodeTab};
inline constexpr const std::array<FaxCode, fax::kLongCodes>* longTabs[2] = {&whiteLongCodeTab,
                                                                            &blackLongCodeTab};

using FaxRunTab = std::array<FaxRun, 512>;

namespace fax {

// Short tables take codes with a 1 among their first four bits (all at most 9 bits), indexed by
// the next 9 bits; long tables take codes starting with four 0 bits, indexed by the 9 bits after
// them. A code of length L left-aligned in 13 bits as v fills 2^(9-L) entries from v >> 4 in a
// short table, or 2^(13-L) entries from v in a long one.
struct RunTabs {
  FaxRunTab shortTab;
  FaxRunTab longTab;
  bool consistent;  // no entry claimed twice, no code longer than its table can hold
};

constexpr void place_code(RunTabs& t, FaxCode c, uint16_t run) {
  if (c.length == 0) return;
  if (c.length > 13) {
    t.consistent = false;
    return;
  }
  const unsigned v = static_cast<unsigned>(c.code) << (13 - c.length);
  FaxRunTab& tab = (v >> 9) != 0 ? t.shortTab : t.longTab;
  const bool is_short = (v >> 9) != 0;
  if (is_short && c.length > 9) {
    t.consistent = false;
    return;
  }
  const unsigned first = is_short ? v >> 4 : v;
  const unsigned count = is_short ? 1u << (9 - c.length) : 1u << (13 - c.length);
  for (unsigned i = 0; i < count; ++i) {
    FaxRun& e = tab[first + i];
    if (e.length != 0) t.consistent = false;
    e = FaxRun{run, c.length};
  }
}

constexpr RunTabs make_run_tabs(int colour) {
  RunTabs t{};
  t.consistent = true;
  for (int r = 0; r <= kMaxShortRun; ++r)
    place_code(t, (*shortTabs[colour])[static_cast<size_t>(r)], static_cast<uint16_t>(r));
  for (int i = 1; i < kLongCodes; ++i)
    place_code(t, (*longTabs[colour])[static_cast<size_t>(i)], static_cast<uint16_t>(64 * i));
  return t;
}

inline constexpr RunTabs kWhiteRunTabs = make_run_tabs(0);
inline constexpr RunTabs kBlackRunTabs = make_run_tabs(1);
// A prefix-free code set never claims one table entry twice.
static_assert(kWhiteRunTabs.consistent && kBlackRunTabs.consistent);

}  // namespace fax

inline constexpr const FaxRunTab& whiteShortRunTab = fax::kWhiteRunTabs.shortTab;
inline constexpr const FaxRunTab& whiteLongRunTab = fax::kWhiteRunTabs.longTab;
inline constexpr const FaxRunTab& blackShortRunTab = fax::kBlackRunTabs.shortTab;
inline constexpr const FaxRunTab& blackLongRunTab = fax::kBlackRunTabs.longTab;

#endif
