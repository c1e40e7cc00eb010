// UTF-16 text helpers shared by every subsystem: conversion, case folding, formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelp {

std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);

/// Simple one-to-one case folding for the scripts users name sheets in
/// (Latin, Greek, Cyrillic); other characters fold to themselves.
char16_t foldCase(char16_t c);
/// The capital of a small letter of the same scripts, one character for one: a letter
/// whose capital takes two (the German sharp s) stays as it is.
char16_t upperCase(char16_t c);
bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);
/// Negative, zero or positive like strcmp, after folding.
int compareIgnoreCase(std::u16string_view a, std::u16string_view b);

/// Replaces each %s with `text` and each %d or %i with `number`; "%%" is a percent sign.
std::u16string formatText(std::u16string_view pattern, int64_t number);
std::u16string formatText(std::u16string_view pattern, std::u16string_view text);

/// The decimal digits of `number`.
std::u16string decimalText(int64_t number);

}  // namespace kelp
