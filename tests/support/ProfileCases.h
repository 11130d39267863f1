// Profile cases run by both the Linux unit test (tests/unit/profile_test.cpp), which checks
// the answers given here, and the probe (tests/windows/profile_probe.cpp), which reports the
// answers of Windows under Wine and of the Linux platform so that the windows tests can
// compare them. Plain data: the probe is built by MinGW as well.
#pragma once

namespace velmora::test {

// GetPrivateProfileIntW of a key whose line is "key=value" (value nullptr: no such key).
struct IntegerCase {
    const char* value;
    int fallback;
    unsigned expected;
};

// Read in code page 936: a value may hold GBK bytes.
inline constexpr IntegerCase kIntegerCases[] = {
    {"12", 0, 12},
    {"12abc", 0, 12},
    {"abc", 9, 0},
    {nullptr, 0, 0},
    {nullptr, 9, 9},
    {nullptr, -1, 0xFFFFFFFFu},
    {"-1", 0, 0xFFFFFFFFu},
    {"-42", 0, 0xFFFFFFD6u},
    {"+1", 0, 1},
    {"-", 9, 0},
    {"4294967295", 0, 4294967295u},
    {"2147483648", 0, 2147483648u},
    {"4294967296", 9, 0},
    {"4294967297", 0, 1},
    {"-4294967296", 0, 0},
    {"-4294967297", 9, 0xFFFFFFFFu},
    {"99999999999", 0, static_cast<unsigned>(99999999999ULL)},
    {"42A94967297", 9, 42},
    {"0x10", 9, 16}, // a 0x, 0o or 0b prefix picks the base, as Windows reads numbers
    {"0o17", 9, 15},
    {"0b101", 9, 5},
    {"0x", 0, 0},
    {"0X10", 9, 0}, // only lower-case prefixes count
    {"0B101", 0, 0},
    {"0O17", 0, 0},
    {"\"7\"", 0, 7},
    {"  42  ", 0, 42},
    {"1 000", 0, 1},
    {"3.9", 0, 3},
    {"\xA3\xB1\xA3\xB2", 9, 0}, // full-width digits
};

} // namespace velmora::test
